# Sound: Ogg Vorbis decoding for the platform layer, Vorbis encoding for the
# soundtrack generator and the tests, SDL2 audio output where the platform plays
# through SDL.
pkg_check_modules(VORNAK_VORBIS REQUIRED IMPORTED_TARGET vorbisfile vorbisenc vorbis ogg)
if(NOT WIN32 AND NOT EMSCRIPTEN)
    pkg_check_modules(VORNAK_SDL2 REQUIRED IMPORTED_TARGET sdl2)
endif()
