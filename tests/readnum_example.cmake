# Runs a document's `$ ... | build/native/tools/readnum` example with READNUM and
# compares what it prints with the lines the document shows below it.
#   cmake -DDOC=<document> -DREADNUM=<readnum> -P readnum_example.cmake
file(READ ${DOC} document)
if(NOT document MATCHES "\n\\$ ([^\n]*) \\| build/native/tools/readnum\n([^`]*)```")
    message(FATAL_ERROR "${DOC}: no readnum example")
endif()
set(shown "${CMAKE_MATCH_2}")
execute_process(COMMAND bash -c "${CMAKE_MATCH_1} | \"$0\"" ${READNUM} OUTPUT_VARIABLE printed
                COMMAND_ERROR_IS_FATAL ANY)
if(NOT printed STREQUAL shown)
    message(FATAL_ERROR "${DOC}: the readnum example prints\n${printed}the document shows\n${shown}")
endif()
