# Joins tinyh264's module files into one classic script that a Worker can load with
# importScripts: OUTPUT from the decoder's files in INPUT_DIR, without their "export default" lines.
set(joined "")
foreach(input TinyH264.js TinyH264Decoder.js)
  file(READ ${INPUT_DIR}/${input} text)
  string(REGEX REPLACE "\nexport default [A-Za-z0-9_]+;" "\n" text "${text}")
  string(APPEND joined "${text}\n")
endforeach()
file(WRITE ${OUTPUT} "${joined}")
