# Shared build helpers.

# Strict warnings for our own targets only (GoogleTest is built with its own flags).
function(vx_strict target)
    # -Wrestrict: GCC 12 reports std::string concatenation at -O3 as an
    # overlapping memcpy (GCC bug 105329), a false positive.
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-restrict)
endfunction()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VX_BITS 64)
    set(VX_WIDL_ARCH --win64)
    set(VX_WINE_LIBDIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
else()
    set(VX_BITS 32)
    set(VX_WIDL_ARCH --win32)
    set(VX_WINE_LIBDIR /usr/lib/i386-linux-gnu/wine/i386-windows)
endif()

find_program(VX_WIDL NAMES ${VX_TRIPLE}-widl widl REQUIRED)
set(VX_WIDL_INCLUDE /usr/include/wine/wine/windows)

# vx_widl(<prefix> <idl>): type library, header and interface-id file from one
# IDL file, one widl run per output (several outputs in one run ignore -o).
# Sets <prefix>_TLB, <prefix>_HEADER, <prefix>_IID and <prefix>_DIR.
function(vx_widl prefix idl)
    get_filename_component(name ${idl} NAME_WE)
    get_filename_component(idl_abs ${idl} ABSOLUTE)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/widl)
    file(MAKE_DIRECTORY ${out})
    set(flags ${VX_WIDL_ARCH} -I${VX_WIDL_INCLUDE} -L${VX_WINE_LIBDIR})
    add_custom_command(OUTPUT ${out}/${name}.tlb
        COMMAND ${VX_WIDL} ${flags} -t -o ${out}/${name}.tlb ${idl_abs}
        DEPENDS ${idl_abs} VERBATIM)
    add_custom_command(OUTPUT ${out}/${name}.h
        COMMAND ${VX_WIDL} ${flags} -h -o ${out}/${name}.h ${idl_abs}
        DEPENDS ${idl_abs} VERBATIM)
    add_custom_command(OUTPUT ${out}/${name}_i.c
        COMMAND ${VX_WIDL} ${flags} -u -o ${out}/${name}_i.c ${idl_abs}
        DEPENDS ${idl_abs} VERBATIM)
    set(${prefix}_TLB ${out}/${name}.tlb PARENT_SCOPE)
    set(${prefix}_HEADER ${out}/${name}.h PARENT_SCOPE)
    set(${prefix}_IID ${out}/${name}_i.c PARENT_SCOPE)
    set(${prefix}_DIR ${out} PARENT_SCOPE)
endfunction()

# The folder that holds exactly what an installation holds.
set(VX_STAGE ${CMAKE_BINARY_DIR}/stage)

# vx_stage(<target>): part of an installation. `cmake --install --component
# product` lays it out under the prefix (nothing else: no import libraries); every build also copies it into the stage folder, where
# the tests and the demo take the binaries from.
function(vx_stage target)
    install(TARGETS ${target} RUNTIME DESTINATION . COMPONENT product)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E make_directory ${VX_STAGE}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${target}> ${VX_STAGE}/
        VERBATIM)
endfunction()

# Tests that trace share one named map, the App Paths key and the trace files
# of the installation folders: they run one at a time.
set(VX_TRACE_LOCK vexilo_trace)
