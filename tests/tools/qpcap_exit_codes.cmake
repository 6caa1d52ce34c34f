# Runs qpcap under the emulator with wrong arguments and checks the exit code scripts rely on.
#   cmake -DEMULATOR=<wine-run> -DTOOL=<qpcap.exe> -DOUT=<scratch dir> -P qpcap_exit_codes.cmake
set(failures "")
function(expect code)
  execute_process(COMMAND ${EMULATOR} ${TOOL} ${ARGN} RESULT_VARIABLE result
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result STREQUAL "${code}")
    string(JOIN " " command ${ARGN})
    set(failures "${failures}\n  qpcap ${command}: exit ${result}, expected ${code}: ${err}"
        PARENT_SCOPE)
  endif()
endfunction()

expect(0 --help)
expect(2)
expect(2 bogus)
expect(2 record -t 5)                      # no -o
expect(2 measure -t 0)
expect(2 frame -n 1.5 -o ${OUT}/x.bmp)
expect(2 list -d 0)                        # an option the command does not take
expect(3 formats -d "No Such Device 7f3a")
expect(3 measure -d 99 -t 1)
expect(2 check)                            # no recording
expect(2 check x.avi --preset -1)
expect(2 check x.avi --max-missing many)
# Counts are digits only, as qpcheck takes them: no exponent, no hexadecimal.
expect(2 check x.avi --max-missing 1e3)
expect(2 measure -t 1 --max-repeats 0x10)
expect(8 check ${OUT}/no-such-recording.avi)
file(WRITE ${OUT}/not-a-recording.avi "RIFF....AVI LIST....hdrl")
expect(8 check ${OUT}/not-a-recording.avi)

if(failures)
  message(FATAL_ERROR "wrong exit codes:${failures}")
endif()
