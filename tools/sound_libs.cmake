# Sound: Ogg Vorbis decoding for the platform layer, Vorbis encoding for the
# soundtrack generator and the tests, libsoxr for music at other rates than
# 44.1 kHz, SDL2 audio output where the platform plays through SDL.
pkg_check_modules(VORNAK_VORBIS REQUIRED IMPORTED_TARGET vorbisfile vorbisenc vorbis ogg)
pkg_check_modules(VORNAK_SOXR REQUIRED IMPORTED_TARGET soxr)
if(NOT WIN32 AND NOT EMSCRIPTEN)
    pkg_check_modules(VORNAK_SDL2 REQUIRED IMPORTED_TARGET sdl2)
endif()
