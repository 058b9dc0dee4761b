# Writes a C++ source that holds the bytes of INPUT as a function `std::string_view NAME()` in the
# ferrylantern namespace. Run in script mode: cmake -DINPUT=… -DOUTPUT=… -DNAME=… -P EmbedResource.cmake
file(READ "${INPUT}" content HEX)
string(LENGTH "${content}" hex_length)
math(EXPR byte_count "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${content}")
string(REGEX REPLACE "(('\\\\x[0-9a-f][0-9a-f]',){24})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp" "// Generated from ${INPUT} at build time; edit that file instead.
#include <string_view>

namespace ferrylantern {

namespace {
constexpr char bytes[] = {
    ${bytes}
};
} // namespace

std::string_view ${NAME}()
{
    return {bytes, ${byte_count}};
}

} // namespace ferrylantern
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
