// The interface of the stateless per-span fragment operations. Every object
// announces the table keys it serves through enumerateKeys; the span
// operation of each stage is declared by the stage's own interface below.
//
// Span conventions: n pixels of one row; mask holds one byte per pixel, 0 for a
// pixel still alive and 255 for one a stage has rejected; colours are 4 bytes
// per pixel in the order R, G, B, A; depth values are floats; stencil values
// one byte per pixel.
#pragma once

#include <cstdint>

// One table key. Its parts by table: alpha and depth {function}; stencil
// {opRejected, opFail, opPass}; blend {source code, destination code};
// texture environment {mode}.
struct FragmentKey {
    uint8_t part[3] = {0, 0, 0};
};

class FragmentOp {
  public:
    // Writes the index-th key served and returns 1, or returns 0 past the last key.
    virtual int enumerateKeys(FragmentKey& key, unsigned index) const = 0;

  protected:
    // The objects live for the whole run and are never deleted through this interface.
    ~FragmentOp() = default;
};

class AlphaFragmentOp : public FragmentOp {
  public:
    virtual uint8_t test(const uint8_t* frag, uint8_t* mask, uint8_t func, uint8_t ref,
                         uint16_t n) const = 0;

  protected:
    ~AlphaFragmentOp() = default;
};

class DepthFragmentOp : public FragmentOp {
  public:
    virtual uint8_t test(const float* z, const float* stored, uint8_t* mask, uint8_t func,
                         uint16_t n) const = 0;
    virtual void writeDepth(const float* z, float* stored, const uint8_t* mask,
                            uint16_t n) const = 0;

  protected:
    ~DepthFragmentOp() = default;
};

class StencilFragmentOp : public FragmentOp {
  public:
    virtual uint8_t test(uint8_t* stencil, uint8_t* mask, uint16_t n, uint8_t opRejected,
                         uint8_t opFail, uint8_t opPass, uint8_t valueMask, uint8_t func,
                         uint8_t ref, uint8_t writeMask) const = 0;

  protected:
    ~StencilFragmentOp() = default;
};

class BlendFragmentOp : public FragmentOp {
  public:
    // out may be the same row as dst.
    virtual void blend(const uint8_t* src, const uint8_t* dst, uint8_t* out, const uint8_t* mask,
                       uint8_t srcCode, uint8_t dstCode, uint16_t n) const = 0;

  protected:
    ~BlendFragmentOp() = default;
};

class TexEnvFragmentOp : public FragmentOp {
  public:
    // out may be the same array as a.
    virtual void combine(const uint8_t* a, const uint8_t* b, uint8_t* out, const uint8_t* mask,
                         uint8_t mode, uint16_t n) const = 0;
    // k is one colour used for every pixel.
    virtual void combineConstant(const uint8_t* a, const uint8_t* k, uint8_t* out,
                                 const uint8_t* mask, uint8_t mode, uint16_t n) const = 0;

  protected:
    ~TexEnvFragmentOp() = default;
};
