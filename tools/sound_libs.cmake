# Sound: SDL2 audio output and Ogg Vorbis decoding for the core, Vorbis encoding
# for the soundtrack generator and the tests.
pkg_check_modules(VORNAK_SOUND REQUIRED IMPORTED_TARGET sdl2 vorbisfile vorbisenc vorbis ogg)
list(APPEND VORNAK_CORE_LINK_LIBRARIES PkgConfig::VORNAK_SOUND)
