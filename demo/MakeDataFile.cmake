# Writes konvoro.bin, the demo release's data file: 4 KiB of text that is the
# same on every build. Run as: cmake -DOUTPUT=FILE -P MakeDataFile.cmake
if(NOT DEFINED OUTPUT)
  message(FATAL_ERROR "MakeDataFile.cmake: OUTPUT is not set")
endif()

# 64 records of 64 bytes: a four-digit number, a blank, 58 hex digits of the
# SHA-256 of "konvoro-record-N" and a line feed.
set(Content "")
foreach(Index RANGE 0 63)
  string(SHA256 Digest "konvoro-record-${Index}")
  string(SUBSTRING "${Digest}" 0 58 Digest)
  set(Number "${Index}")
  string(LENGTH "${Number}" Digits)
  while(Digits LESS 4)
    string(PREPEND Number "0")
    math(EXPR Digits "${Digits} + 1")
  endwhile()
  string(APPEND Content "${Number} ${Digest}\n")
endforeach()

# Written beside the target and renamed, so that the file appears only whole.
file(WRITE "${OUTPUT}.tmp" "${Content}")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
