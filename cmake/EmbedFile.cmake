# cmake -Dinput=FILE -Doutput=FILE.cpp -Dname=NAME -P EmbedFile.cmake: a C++ source that holds
# the file's bytes as "extern const char NAME[]" and their count as "NAME_SIZE".
file(READ ${input} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
string(REGEX REPLACE "(('\\\\x..',){16})" "\\1\n    " bytes "${bytes}")
file(WRITE ${output}.tmp "// Made from ${input} by EmbedFile.cmake.
#include <cstddef>
extern const char ${name}[];
extern const std::size_t ${name}_SIZE;
const char ${name}[] = {
    ${bytes}'\\0'};
const std::size_t ${name}_SIZE = ${size};
")
file(COPY_FILE ${output}.tmp ${output} ONLY_IF_DIFFERENT)
file(REMOVE ${output}.tmp)
