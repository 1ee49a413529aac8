# Sources of the test-session helpers (private Xvfb and PulseAudio, painted X windows, ingest
# listener, transport-stream reader), for tests and benchmarks that drive real capture sessions.
set(lumacast_session_support
  ${CMAKE_SOURCE_DIR}/tests/support/CaptureChecks.h
  ${CMAKE_SOURCE_DIR}/tests/support/ChildProcess.cpp
  ${CMAKE_SOURCE_DIR}/tests/support/IngestCollector.h
  ${CMAKE_SOURCE_DIR}/tests/support/MovingContent.cpp
  ${CMAKE_SOURCE_DIR}/tests/support/PulseSession.cpp
  ${CMAKE_SOURCE_DIR}/tests/support/TsDemux.cpp
  ${CMAKE_SOURCE_DIR}/tests/support/XPaintWindow.cpp
  ${CMAKE_SOURCE_DIR}/tests/support/XvfbSession.cpp)
