// The tables that map the current fragment state to the operation object
// serving it, their installers, and the per-span dispatchers through which
// rectangle, triangle and point drawing reach the fragment stages.
#pragma once

#include <cstddef>
#include <cstdint>

#include "render/fragment_op.h"

constexpr size_t ALPHA_TABLE_SIZE = 8;
constexpr size_t DEPTH_TABLE_SIZE = 8;
constexpr size_t STENCIL_TABLE_SIZE = 216;  // opRejected + 6 x opFail + 36 x opPass
constexpr size_t BLEND_TABLE_SIZE = 32768;  // source code x 256 + destination code
constexpr size_t TEXENV_TABLE_SIZE = 4;

template <typename Op, size_t Size>
struct FragmentTable {
    uint8_t built = 0;
    Op* entries[Size] = {};
};

struct FragmentTables {
    FragmentTable<AlphaFragmentOp, ALPHA_TABLE_SIZE> alpha;
    FragmentTable<DepthFragmentOp, DEPTH_TABLE_SIZE> depth;
    FragmentTable<StencilFragmentOp, STENCIL_TABLE_SIZE> stencil;
    FragmentTable<BlendFragmentOp, BLEND_TABLE_SIZE> blend;
    FragmentTable<TexEnvFragmentOp, TEXENV_TABLE_SIZE> texEnv;  // its built flag is unused
    // Counts resets, installs and removals: the entries may have changed.
    uint32_t generation = 0;

    // The objects, created by the first sglInit and reinstalled by every later
    // one. They hold no state, so reinstalling the same objects is the same as
    // rebuilding them; they are never deleted and stay reachable from here.
    AlphaFragmentOp* alphaTestOp = nullptr;
    BlendFragmentOp* blendOp = nullptr;
    BlendFragmentOp* blendConstantOneOp = nullptr;
    BlendFragmentOp* blendDestinationOneOp = nullptr;
    BlendFragmentOp* blendSourcePairOp = nullptr;
    DepthFragmentOp* depthOp = nullptr;
    StencilFragmentOp* stencilTestOp = nullptr;
    TexEnvFragmentOp* texEnvReplaceOp = nullptr;
    TexEnvFragmentOp* texEnvModulateOp = nullptr;
    TexEnvFragmentOp* texEnvAddSubtractOp = nullptr;
};

template <typename Op, typename Interface>
void createOnce(Interface*& slot) {
    if (slot == nullptr) slot = new Op;
}

// Table management. The resets empty every entry (and set the built flag);
// the texture-environment reset also creates and installs its three objects.
int resetAlphaTable();
int resetDepthTable();
int resetStencilTable();
int resetBlendTable();
int resetTexEnvTable();

// Store op in the entry of every key it enumerates; a later install overwrites
// shared keys. Null: SGL_ERR_INVALID. A key outside the table stops the
// installation with SGL_ERR_RANGE, keeping the entries stored so far.
int installAlphaOp(AlphaFragmentOp* op);
int installDepthOp(DepthFragmentOp* op);
int installStencilOp(StencilFragmentOp* op);
int installBlendOp(BlendFragmentOp* op);
int installTexEnvOp(TexEnvFragmentOp* op);

// Empty the entry of every key op enumerates, up to the first key outside the table.
void removeAlphaOp(const AlphaFragmentOp* op);
void removeDepthOp(const DepthFragmentOp* op);
void removeStencilOp(const StencilFragmentOp* op);
void removeBlendOp(const BlendFragmentOp* op);

// Dispatchers, one call per span. A test returns 1 when at least one pixel is
// still alive and 0 otherwise; its caller stops working on the span at 0. An
// unbuilt table, an empty entry or a missing buffer row that the test would
// need lets no pixel through and writes nothing.
uint8_t depthTestSpan(const float* depths, const float* depthRow, uint8_t* mask, uint16_t n);
void depthWriteSpan(const float* depths, float* depthRow, const uint8_t* mask, uint16_t n);
uint8_t stencilTestSpan(uint8_t* stencilRow, uint8_t* mask, uint16_t n);
uint8_t alphaTestSpan(const uint8_t* colors, uint8_t* mask, uint16_t n);
void blendSpan(const uint8_t* src, const uint8_t* dst, uint8_t* out, const uint8_t* mask,
               uint16_t n);
// The object and factor pair blendSpan uses in the current state; null when it
// writes nothing.
const BlendFragmentOp* currentBlend(uint8_t& srcCode, uint8_t& dstCode);
void texEnvCombineSpan(const uint8_t* texels, const uint8_t* colors, uint8_t* out,
                       const uint8_t* mask, uint16_t n);
void texEnvCombineConstantSpan(const uint8_t* texels, const uint8_t* color, uint8_t* out,
                               const uint8_t* mask, uint16_t n);
