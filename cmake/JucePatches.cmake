# The framework as Debian ships it, with a few mends applied at configure time.
#
# Each patch in cmake/juce-patches/ (applied in name order, paths relative to the
# modules folder) says at its head what it mends and what upstream did about it.
# The modules that the patches touch are copied into the build tree and patched
# there; the package's own files are never changed. The JUCE targets that
# find_package(JUCE) made are then pointed at the copies: their sources, and their
# include folders, where the copies' folder comes first, so that every translation
# unit (the plug-in wrappers, the shared code and the tests alike) includes the
# patched headers and no program mixes the two versions of one header.
#
# Call tessaline_patch_juce_modules() right after find_package(JUCE), before any
# target reads the JUCE targets' properties.

set(TESSALINE_JUCE_PATCH_DIR "${CMAKE_CURRENT_LIST_DIR}/juce-patches")

# The modules that a patch touches: the first folder of each path it writes to.
function(_tessaline_modules_in_patch patch_file out_var)
    file(STRINGS "${patch_file}" targets REGEX "^\\+\\+\\+ ")
    set(modules)
    foreach(line IN LISTS targets)
        if(line MATCHES "^\\+\\+\\+ b/([^/\t ]+)/")
            list(APPEND modules "${CMAKE_MATCH_1}")
        endif()
    endforeach()
    list(REMOVE_DUPLICATES modules)
    set(${out_var} ${modules} PARENT_SCOPE)
endfunction()

function(_tessaline_apply_juce_patch patch_file modules_copy)
    get_filename_component(patch_name "${patch_file}" NAME)
    # No fuzz: a patch whose context has moved no longer says what it mends.
    set(patch_args -p1 --forward --batch --fuzz=0 --no-backup-if-mismatch -d "${modules_copy}" -i "${patch_file}")
    foreach(pass --dry-run "")
        execute_process(COMMAND "${TESSALINE_PATCH_PROGRAM}" ${patch_args} ${pass}
            RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
        if(NOT result EQUAL 0)
            file(REMOVE_RECURSE "${modules_copy}")
            message(FATAL_ERROR
                "JUCE patch ${patch_name} no longer applies to the framework in ${JUCE_MODULES_DIR} "
                "(JUCE ${JUCE_VERSION}). Check whether this JUCE release already mends what the patch "
                "describes; then update or remove the patch in ${TESSALINE_JUCE_PATCH_DIR}.\n${output}")
        endif()
    endforeach()
endfunction()

# Points every path under an original module folder at its copy.
function(_tessaline_redirect_property target property modules copy_root)
    get_target_property(value ${target} ${property})
    if(NOT value)
        return()
    endif()
    # The package's folder as a regular expression that matches it alone.
    string(REGEX REPLACE "([].+*?^$()|[])" "\\\\\\1" original_root "${JUCE_MODULES_DIR}")
    foreach(module IN LISTS modules)
        string(REPLACE "${JUCE_MODULES_DIR}/${module}/" "${copy_root}/${module}/" value "${value}")
        list(TRANSFORM value REPLACE "^${original_root}/${module}$" "${copy_root}/${module}")
    endforeach()
    if(property STREQUAL "INTERFACE_INCLUDE_DIRECTORIES")
        # The copies' folder holds the patched modules only: it comes before the
        # package's folder, which still provides every other module.
        list(TRANSFORM value REPLACE "^${original_root}$" "${copy_root};${JUCE_MODULES_DIR}")
    endif()
    set_target_properties(${target} PROPERTIES ${property} "${value}")
endfunction()

function(tessaline_patch_juce_modules)
    set(copy_root "${CMAKE_BINARY_DIR}/juce-patched/modules")
    # A patch added to the folder or taken out of it configures again, as does editing one.
    file(GLOB patches CONFIGURE_DEPENDS "${TESSALINE_JUCE_PATCH_DIR}/*.patch")
    list(SORT patches)
    if(NOT patches)
        file(REMOVE_RECURSE "${copy_root}")
        return()
    endif()

    find_program(TESSALINE_PATCH_PROGRAM patch)
    if(NOT TESSALINE_PATCH_PROGRAM)
        message(FATAL_ERROR "The framework's patches need the 'patch' program (Debian package patch).")
    endif()

    set(modules)
    foreach(patch_file IN LISTS patches)
        _tessaline_modules_in_patch("${patch_file}" patch_modules)
        if(NOT patch_modules)
            message(FATAL_ERROR "JUCE patch ${patch_file} names no file under a module folder (paths must read b/<module>/...).")
        endif()
        list(APPEND modules ${patch_modules})
        set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${patch_file}")
    endforeach()
    list(REMOVE_DUPLICATES modules)

    # The copies are made again only when a patch or the package changed, as the
    # patched files then compile again.
    set(inputs "${JUCE_MODULES_DIR};${JUCE_VERSION}")
    foreach(patch_file IN LISTS patches)
        file(SHA256 "${patch_file}" hash)
        string(APPEND inputs ";${patch_file}=${hash}")
    endforeach()
    foreach(module IN LISTS modules)
        file(GLOB_RECURSE module_files LIST_DIRECTORIES FALSE "${JUCE_MODULES_DIR}/${module}/*")
        list(SORT module_files)
        foreach(module_file IN LISTS module_files)
            file(TIMESTAMP "${module_file}" stamp "%s" UTC)
            string(APPEND inputs ";${module_file}@${stamp}")
        endforeach()
    endforeach()
    string(SHA256 inputs_hash "${inputs}")

    set(stamp_file "${copy_root}/.patched")
    set(previous_hash "")
    if(EXISTS "${stamp_file}")
        file(READ "${stamp_file}" previous_hash)
    endif()

    if(NOT previous_hash STREQUAL inputs_hash)
        file(REMOVE_RECURSE "${copy_root}")
        file(MAKE_DIRECTORY "${copy_root}")
        foreach(module IN LISTS modules)
            file(COPY "${JUCE_MODULES_DIR}/${module}" DESTINATION "${copy_root}")
        endforeach()
        # A copy keeps the package's time stamps: a file that a patch no longer
        # changes would come back older than its objects, and the build would keep
        # them. New stamps make everything that includes the copies compile again.
        file(GLOB_RECURSE copied_files LIST_DIRECTORIES FALSE "${copy_root}/*")
        file(TOUCH_NOCREATE ${copied_files})
        foreach(patch_file IN LISTS patches)
            _tessaline_apply_juce_patch("${patch_file}" "${copy_root}")
        endforeach()
        file(WRITE "${stamp_file}" "${inputs_hash}")
    endif()

    set(names)
    foreach(patch_file IN LISTS patches)
        get_filename_component(patch_name "${patch_file}" NAME_WE)
        list(APPEND names "${patch_name}")
    endforeach()
    list(JOIN names ", " names)
    list(JOIN modules ", " module_list)
    message(STATUS "Tessaline: JUCE ${JUCE_VERSION} with patches ${names} (${module_list} from ${copy_root})")

    # Every target that find_package(JUCE) made: the modules, their header helpers and
    # the plug-in wrappers.
    get_property(juce_modules GLOBAL PROPERTY _juce_module_names)
    _juce_get_all_plugin_kinds(plugin_kinds)
    set(juce_targets ${juce_modules} juce_vst3_headers juce_lilv_headers juce_ara_headers juce_audio_plugin_client_utils)
    foreach(kind IN LISTS plugin_kinds)
        list(APPEND juce_targets juce_audio_plugin_client_${kind})
    endforeach()

    foreach(target IN LISTS juce_targets)
        if(NOT TARGET ${target})
            continue()
        endif()
        foreach(property INTERFACE_SOURCES INTERFACE_INCLUDE_DIRECTORIES INTERFACE_JUCE_MODULE_SOURCES INTERFACE_JUCE_MODULE_HEADERS)
            _tessaline_redirect_property(${target} ${property} "${modules}" "${copy_root}")
        endforeach()
    endforeach()

    # Where the wrappers' helper programs (the LV2 metadata writer) find their sources.
    foreach(module IN LISTS modules)
        if(TARGET ${module})
            set_target_properties(${module} PROPERTIES INTERFACE_JUCE_MODULE_PATH "${copy_root}")
        endif()
    endforeach()
endfunction()
