# Writes a C++ source that holds a file's bytes as an array, so a program carries the file inside it.
# Run as a script:  cmake -DINPUT=<file> -DOUTPUT=<source> -DSYMBOL=<name> -DHEADER=<include> -P embed-file.cmake
# The source defines  const unsigned char <name>[]  and  const std::size_t <name>Size  in namespace
# shaperhost, as declared in HEADER.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
# Sixteen bytes to a line keeps the generated file readable by tools that dislike long lines.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REPEAT "0x..," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
    "// Generated from ${INPUT} by cmake/embed-file.cmake; do not edit.\n"
    "#include \"${HEADER}\"\n\n"
    "namespace shaperhost {\n\n"
    "const unsigned char ${SYMBOL}[] = {\n${bytes}};\n"
    "const std::size_t ${SYMBOL}Size = ${size};\n\n"
    "} // namespace shaperhost\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
