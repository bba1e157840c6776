# Runs Doxygen for the `docs` target:
#   cmake -DDOXYFILE=... -DOUTPUT=... -DSYMBOLS=exported_symbols.txt -P BspDocsRun.cmake
# Doxygen is looked up when the target is built, so that installing it needs no new
# configuration. The build fails when an exported symbol has no description, when a function
# or variable of a header is undocumented, and on any other documentation error.
find_program(BSP_DOXYGEN doxygen)
if(NOT BSP_DOXYGEN)
    message(FATAL_ERROR "docs: Doxygen is not installed; install it (apt install doxygen) "
                        "and build the docs target again")
endif()
file(REMOVE_RECURSE ${OUTPUT}/xml)
execute_process(COMMAND ${BSP_DOXYGEN} ${DOXYFILE} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "docs: doxygen ${DOXYFILE} failed (${status})")
endif()

# Undocumented records, fields, enumerations, macros and type names are left to judgement.
file(STRINGS ${OUTPUT}/warnings.txt warnings REGEX "warning:")
set(faults ${warnings})
list(FILTER faults EXCLUDE REGEX "is not documented")
set(undocumented ${warnings})
list(FILTER undocumented INCLUDE REGEX "\\((function|variable)\\) of file .* is not documented")
list(APPEND faults ${undocumented})

# Every exported symbol is declared in a documented header with a description of its own
# (a header without a file comment would silently drop its functions from the reference).
file(GLOB headers ${OUTPUT}/xml/*_8h.xml)
set(xml "")
foreach(header ${headers})
    file(READ ${header} text)
    string(APPEND xml "${text}")
endforeach()
file(STRINGS ${SYMBOLS} symbols REGEX "^[A-Za-z_]")
foreach(symbol ${symbols})
    string(FIND "${xml}" "<name>${symbol}</name>" at)
    if(at EQUAL -1)
        list(APPEND faults "${symbol}: exported but not in the reference")
        continue()
    endif()
    string(SUBSTRING "${xml}" ${at} 4000 member)
    string(FIND "${member}" "</detaileddescription>" end)
    string(SUBSTRING "${member}" 0 ${end} member)
    if(NOT member MATCHES "<para>")
        list(APPEND faults "${symbol}: exported without a description")
    endif()
endforeach()

if(faults)
    list(JOIN faults "\n" text)
    message(FATAL_ERROR "docs: the headers' documentation needs mending:\n${text}")
endif()
