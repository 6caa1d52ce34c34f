# Runs qpcheck on bad arguments, unreadable files and drawn recordings, and checks the exit
# codes scripts rely on and the files it writes.
#   cmake -DTOOL=<qpcheck> -DDRAW=<qpcheck_draw_frames> -DFFMPEG=<ffmpeg> -DASSETS=<assets>
#         -DOUT=<scratch dir> -P qpcheck_exit_codes.cmake
set(failures "")
function(expect code)
  execute_process(COMMAND ${TOOL} ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  string(JOIN " " command ${ARGN})
  if(NOT result STREQUAL "${code}")
    set(failures "${failures}\n  qpcheck ${command}: exit ${result}, expected ${code}: ${out}${err}"
        PARENT_SCOPE)
  elseif(NOT code STREQUAL "0" AND NOT code STREQUAL "1" AND err STREQUAL "")
    set(failures "${failures}\n  qpcheck ${command}: exit ${code} without a message" PARENT_SCOPE)
  endif()
endfunction()

set(dir ${OUT}/qpcheck-scratch)
file(REMOVE_RECURSE ${dir})
file(MAKE_DIRECTORY ${dir})
file(WRITE ${dir}/garbage.avi "RIFF....AVI LIST this is not a recording at all")
file(WRITE ${dir}/empty.mkv "")

expect(0 --help)
expect(2)
expect(2 --bogus x.avi)
expect(2 a.avi b.avi)
expect(2 ${dir}/garbage.avi --preset)
expect(2 ${dir}/garbage.avi --max-missing -1)
expect(2 ${dir}/garbage.avi --max-repeats 1.5)
expect(2 ${dir}/garbage.avi --install ${ASSETS} --ini ${ASSETS}/QuorPlemo.ini)
expect(2 ${dir}/no-such-file.avi --install ${ASSETS})
expect(2 ${dir}/garbage.avi --install ${ASSETS})
expect(2 ${dir}/empty.mkv --install ${ASSETS})

if(NOT FFMPEG)
  message(WARNING "no ffmpeg program: only the usage errors were checked")
else()
  # Preset 0 of the shipped INI: 640x480 YUY2, 30 fps.
  execute_process(COMMAND ${DRAW} ${ASSETS}/QuorPlemo.ini 0 40 ${dir}/frames.yuv
                  RESULT_VARIABLE drawn)
  if(NOT drawn STREQUAL "0")
    message(FATAL_ERROR "qpcheck_draw_frames failed: ${drawn}")
  endif()
  set(raw -v error -y -f rawvideo -pix_fmt yuyv422 -s 640x480 -r 30 -i ${dir}/frames.yuv)
  execute_process(COMMAND ${FFMPEG} ${raw} -c:v rawvideo -pix_fmt yuyv422 ${dir}/clean.avi)
  execute_process(COMMAND ${FFMPEG} ${raw} -vf "select=not(eq(n\\,10)),setpts=N/FRAME_RATE/TB"
                          -c:v rawvideo -pix_fmt yuyv422 ${dir}/cut.avi)
  execute_process(COMMAND ${FFMPEG} ${raw} -c:v mjpeg -q:v 2 ${dir}/mjpeg.mkv)
  # A wrong INI: one preset of another size.
  file(WRITE ${dir}/other.ini "[MAIN]\npreset_num=1\n[PRESET_01]\nenable=1\nw=200\nh=200\n")

  expect(0 ${dir}/clean.avi --install ${ASSETS} --max-missing 0 --max-repeats 0
         --csv ${dir}/clean.csv --json ${dir}/clean.json --plot ${dir}/clean.png)
  expect(0 ${dir}/cut.avi --ini ${ASSETS}/QuorPlemo.ini --preset 0 --max-missing 1)
  expect(1 ${dir}/cut.avi --install ${ASSETS} --max-missing 0)
  expect(0 ${dir}/mjpeg.mkv --install ${ASSETS} --max-missing 0 --max-repeats 0)
  expect(2 ${dir}/clean.avi --ini ${dir}/other.ini)
  expect(2 ${dir}/clean.avi --install ${ASSETS} --preset 16)
  expect(2 ${dir}/clean.avi --install ${ASSETS} --csv ${dir}/no-such-dir/x.csv)

  file(STRINGS ${dir}/clean.csv rows)
  list(LENGTH rows count)
  if(NOT count EQUAL 41)
    set(failures "${failures}\n  clean.csv has ${count} lines, expected a header and 40 rows")
  endif()
  file(READ ${dir}/clean.json json)
  string(JSON missing GET "${json}" missing)
  string(JSON last GET "${json}" last_frame)
  if(NOT missing EQUAL 0 OR NOT last EQUAL 39)
    set(failures "${failures}\n  clean.json: missing ${missing}, last frame ${last}")
  endif()
  if(NOT EXISTS ${dir}/clean.png)
    set(failures "${failures}\n  no plot written")
  endif()
endif()

if(failures)
  message(FATAL_ERROR "qpcheck:${failures}")
endif()
