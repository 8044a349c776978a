# The tests of the cross-built program, run by ctest through the emulator (Wine).
# Each Wine process start costs, so the suite runs in a few processes:
#   windows_unit      everything but the runs of the whole program, with a null
#                     ALSA device for waveOut (HOME with an .asoundrc of its own)
#   windows_no_sound  the waveOut tests again, without any sound device
#   windows_offline   the offline runs (the digest of the whole show)
#   windows_console   the console backend and the program in a console, under a
#                     pseudo-terminal of 80x50 (Wine's console works only there)
#   windows_console_small  the note on a console smaller than the show, at 80x40
# Start `wineserver -p` before `ctest -j2`, or two first Wine starts can race.
set(VORNAK_WINE_HOME_NULL_SOUND ${CMAKE_BINARY_DIR}/wine-home/null-sound)
set(VORNAK_WINE_HOME_NO_SOUND ${CMAKE_BINARY_DIR}/wine-home/no-sound)
file(MAKE_DIRECTORY ${VORNAK_WINE_HOME_NULL_SOUND} ${VORNAK_WINE_HOME_NO_SOUND})
file(WRITE ${VORNAK_WINE_HOME_NULL_SOUND}/.asoundrc "pcm.!default { type null }\n")
file(WRITE ${VORNAK_WINE_HOME_NO_SOUND}/.asoundrc "pcm.!default { type hw card 99 }\n")

set(VORNAK_WHOLE_PROGRAM_TESTS "OfflineRun.*:Win32Console*:Win32Program*")
add_test(NAME windows_unit COMMAND vornak_tests --gtest_filter=-${VORNAK_WHOLE_PROGRAM_TESTS})
add_test(NAME windows_no_sound COMMAND vornak_tests --gtest_filter=WaveOut*)
add_test(NAME windows_offline COMMAND vornak_tests --gtest_filter=OfflineRun.*:Win32Program*)
set_tests_properties(windows_unit PROPERTIES ENVIRONMENT HOME=${VORNAK_WINE_HOME_NULL_SOUND})
set_tests_properties(windows_no_sound windows_offline PROPERTIES
    ENVIRONMENT HOME=${VORNAK_WINE_HOME_NO_SOUND})

# `script` gives Wine a terminal; stty makes it 80x50 (a smaller one refuses the
# screen buffer size). The exit status of the tests comes back through -e.
list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " VORNAK_EMULATOR_COMMAND)
add_test(NAME windows_console COMMAND script -qfec
    "stty cols 80 rows 50; HOME=${VORNAK_WINE_HOME_NO_SOUND} VORNAK_EXPECT_CONSOLE=1 ${VORNAK_EMULATOR_COMMAND} $<TARGET_FILE:vornak_tests> --gtest_filter=Win32Console*"
    /dev/null)
# A terminal too small for the show: the start-up lines say so.
add_test(NAME windows_console_small COMMAND script -qfec
    "stty cols 80 rows 40; HOME=${VORNAK_WINE_HOME_NO_SOUND} VORNAK_EXPECT_SMALL_CONSOLE=1 ${VORNAK_EMULATOR_COMMAND} $<TARGET_FILE:vornak_tests> --gtest_filter=Win32ConsoleSmall*"
    /dev/null)
set_tests_properties(windows_unit windows_no_sound windows_offline windows_console
    windows_console_small PROPERTIES
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR} TIMEOUT 900)

# The program is self-contained: it imports nothing but DLLs that every Windows has.
add_test(NAME windows_system_dlls COMMAND sh -c
    "dlls=$(x86_64-w64-mingw32-objdump -p \"$0\" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u); echo \"$dlls\"; ! echo \"$dlls\" | grep -viqE '^(kernel32|user32|winmm|msvcrt|advapi32|ws2_32|shell32|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\\.dll$'"
    $<TARGET_FILE:vornak>)

# The Windows build records the same GIF clip, byte for byte, as the native build
# beside it (build/, as for the page; skipped while that has no program).
set(VORNAK_NATIVE_PROGRAM ${CMAKE_SOURCE_DIR}/build/vornak CACHE FILEPATH
    "a native vornak whose recordings the Windows build's must equal")
add_test(NAME windows_gif_bytes COMMAND sh -c
    "[ -x \"$0\" ] || exit 77; dir=$(mktemp -d) && cd \"$dir\" && \"$0\" --record native.gif --from 60000 --to 70000 && HOME=${VORNAK_WINE_HOME_NO_SOUND} ${VORNAK_EMULATOR_COMMAND} \"$1\" --record windows.gif --from 60000 --to 70000 && cmp native.gif windows.gif; status=$?; rm -rf \"$dir\"; exit $status"
    ${VORNAK_NATIVE_PROGRAM} $<TARGET_FILE:vornak>)
set_tests_properties(windows_gif_bytes PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
