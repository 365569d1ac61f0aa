# The licences of a release folder (included by the deploy scripts, which run
# under cmake -P): licenses/NOTICE.txt lists every third-party file shipped
# with its project, version, licence and where its exact source is, and beside
# it goes the full text of every licence the notice names, from
# release/licenses/<licence>.txt of the source tree. Licences are named by
# those file names, joined by " or ", " and ", " with " and ", " (the last
# between the parts of a file that come from different projects).
include_guard(GLOBAL)
set(release_licence_texts "${CMAKE_CURRENT_LIST_DIR}/../release/licenses")

# notice_file(FILE PROJECT LICENCES SOURCE): FILE relative to the folder.
function(notice_file file project licences source)
    set_property(GLOBAL APPEND_STRING PROPERTY release_notice_entries
                 "\n${file}\n    project: ${project}\n    licence: ${licences}\n    source: ${source}\n")
    string(REGEX REPLACE " (or|and|with) |, " ";" names "${licences}")
    set_property(GLOBAL APPEND PROPERTY release_notice_licences ${names})
endfunction()

# notice_write(LICENSES_FOLDER QT_VERSION QT_SOURCE): writes the notice, the
# entries after a header that says how to replace Qt, and copies the texts.
# QT_SOURCE, lines of up to 76 characters, says where Qt's exact source is.
function(notice_write folder qt_version qt_source)
    get_property(entries GLOBAL PROPERTY release_notice_entries)
    get_property(names GLOBAL PROPERTY release_notice_licences)
    list(REMOVE_DUPLICATES names)
    file(MAKE_DIRECTORY "${folder}")
    foreach(name IN LISTS names)
        if(NOT EXISTS "${release_licence_texts}/${name}.txt")
            message(FATAL_ERROR "the notice names the licence ${name}, whose text is not in ${release_licence_texts}")
        endif()
        file(COPY_FILE "${release_licence_texts}/${name}.txt" "${folder}/${name}.txt")
    endforeach()
    file(WRITE "${folder}/NOTICE.txt" "\
Tarvenor unit editor: the third-party files of this folder

The editor's own program is this project's work. Every other file the folder
carries is listed below with its project, version, licence and where its
exact source is. The full text of each licence named is in this folder, as
<licence>.txt; the copyright holders of each project are in the Debian
copyright files beside it, named after their Debian package.

Qt ${qt_version} is used under the GNU Lesser General Public License, version 3
(LGPL-3.0.txt, which adds to GPL-3.0.txt). You may replace the Qt libraries and
plugins of this folder with your own build of Qt ${qt_version}, from the source
below or changed by you: the editor loads the Qt libraries and plugins it
finds in this folder.
${qt_source}
${entries}")
endfunction()

# The Debian source package an installed PACKAGE was built from, and its
# version: OUT_PACKAGE, OUT_VERSION.
function(notice_debian_source dpkg_query package out_package out_version)
    execute_process(COMMAND "${dpkg_query}" -W "-f=\${source:Package} \${source:Version}" "${package}"
                    OUTPUT_VARIABLE origin RESULT_VARIABLE failed)
    if(failed OR NOT origin MATCHES "^([^ ]+) ([^ ]+)$")
        message(FATAL_ERROR "dpkg-query knows no source of the package ${package}")
    endif()
    set(${out_package} "${CMAKE_MATCH_1}" PARENT_SCOPE)
    set(${out_version} "${CMAKE_MATCH_2}" PARENT_SCOPE)
endfunction()

# The upstream version in a Debian version: no epoch, no Debian revision, no
# repacking suffix.
function(notice_upstream_version debian_version out)
    string(REGEX REPLACE "^[0-9]+:" "" version "${debian_version}")
    string(REGEX REPLACE "-[^-]+$" "" version "${version}")
    string(REGEX REPLACE "[+~](dfsg|ds)[0-9]*$" "" version "${version}")
    set(${out} "${version}" PARENT_SCOPE)
endfunction()
