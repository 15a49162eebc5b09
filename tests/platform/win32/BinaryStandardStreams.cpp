// Linked into every cross-built test executable: standard output and error in binary mode,
// so that what CTest and the test discovery read has LF line ends, not text mode's CR LF
// (the discovery would take "Suite.\r" for a suite name).
#include <cstdio>
#include <fcntl.h>
#include <io.h>

namespace {

const bool g_binaryStandardStreams = [] {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    return true;
}();

}
