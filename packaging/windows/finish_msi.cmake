# Writes into the package what wixl leaves out, with msitools' msibuild:
# - each file's version, as an administrator reads it and as Windows
#   Installer compares it: a program's or library's own (its version
#   resource), else the version of the Debian package it came from (listed
#   in DEFAULTS as "name version"), else the game's;
# - a rebuild of the same version replaces the installed one (the upgrade
#   rule includes its own version) instead of installing beside it, and the
#   earlier version goes right after InstallValidate, where the package's
#   custom actions (additions.wxs) expect it;
# - the summary's language, the product's (French);
# - the installed size, for the list of apps;
# - each file's hash with its name, which the package checks once the files
#   are written;
# - the class's service file and the school's certificate, which the
#   administrator put beside the programs, removed on uninstall when
#   EFFACER_CLASSE=1 (the package's ForgetClass sets CLASS_FOLDER).
#   cmake -DMSI=<package> -DSTAGE=<folder> -DFILES=<files.wxs> -DVERSION=<x.y.z>
#         -DDEFAULTS=<file> -P finish_msi.cmake
cmake_minimum_required(VERSION 3.22)

function(version_resource file out)
    # VS_FIXEDFILEINFO: its signature 0xFEEF04BD, then the structure's
    # version, then the file's version, most significant word first.
    file(READ ${file} hex HEX)
    set(from 0)
    set(${out} "" PARENT_SCOPE)
    while(TRUE)
        string(SUBSTRING "${hex}" ${from} -1 rest)
        string(FIND "${rest}" "bd04effe" at)
        if(at EQUAL -1)
            return()
        endif()
        math(EXPR at "${from} + ${at}")
        math(EXPR odd "${at} % 2")
        if(odd EQUAL 0)
            break()
        endif()
        math(EXPR from "${at} + 1")
    endwhile()
    set(words "")
    foreach(offset 20 16 28 24)
        math(EXPR start "${at} + ${offset}")
        string(SUBSTRING "${hex}" ${start} 4 word)
        string(SUBSTRING "${word}" 2 2 high)
        string(SUBSTRING "${word}" 0 2 low)
        math(EXPR number "0x${high}${low}")
        list(APPEND words ${number})
    endforeach()
    list(JOIN words "." version)
    set(${out} ${version} PARENT_SCOPE)
endfunction()

file(STRINGS ${DEFAULTS} default_lines)
file(READ ${FILES} files_wxs)
string(REGEX MATCHALL "<File Id=\"[^\"]+\"[^>]*Source=\"[^\"]+\"" entries "${files_wxs}")
set(queries "")
set(bytes 0)
foreach(entry ${entries})
    string(REGEX REPLACE "<File Id=\"([^\"]+)\".*" "\\1" id "${entry}")
    string(REGEX REPLACE ".*Source=\"\\$\\(var.Stage\\)/([^\"]+)\"" "\\1" path "${entry}")
    file(SIZE ${STAGE}/${path} size)
    math(EXPR bytes "${bytes} + ${size}")
    get_filename_component(name ${path} NAME)
    version_resource(${STAGE}/${path} version)
    if(NOT version)
        set(version ${VERSION}.0)
        foreach(line ${default_lines})
            string(FIND "${line}" "${name} " at)
            if(at EQUAL 0)
                string(REPLACE "${name} " "" version "${line}")
            endif()
        endforeach()
    endif()
    list(APPEND queries "UPDATE `File` SET `Version` = '${version}' WHERE `File` = '${id}'")
endforeach()
list(LENGTH entries count)
if(count EQUAL 0)
    message(FATAL_ERROR "${FILES} lists no file")
endif()
math(EXPR kib "(${bytes} + 1023) / 1024")

# Each file's name in the folder and its hash, for the package's check that
# every file was replaced.
execute_process(COMMAND msiinfo export ${MSI} MsiFileHash OUTPUT_VARIABLE hashes
                COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\n" ";" hashes "${hashes}")
set(expected "")
foreach(entry ${entries})
    string(REGEX REPLACE "<File Id=\"([^\"]+)\".*" "\\1" id "${entry}")
    string(REGEX REPLACE ".*Source=\"\\$\\(var.Stage\\)/([^\"]+)\"" "\\1" path "${entry}")
    string(REPLACE "/" "\\" path "${path}")
    foreach(row ${hashes})
        if(row MATCHES "^${id}\t0\t([-0-9]+)\t([-0-9]+)\t([-0-9]+)\t([-0-9]+)")
            string(APPEND expected
                   "${path}*${CMAKE_MATCH_1}*${CMAKE_MATCH_2}*${CMAKE_MATCH_3}*${CMAKE_MATCH_4}:")
        endif()
    endforeach()
endforeach()
list(APPEND queries
     "INSERT INTO `Property` (`Property`, `Value`) VALUES ('EXPECTED_FILES', '${expected}')")

execute_process(COMMAND msiinfo export ${MSI} Upgrade OUTPUT_VARIABLE upgrade
                COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "{[-0-9A-F]+}" code "${upgrade}")
list(APPEND queries
     "DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'"
     "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) VALUES ('${code}', '${VERSION}', 513, 'WIX_UPGRADE_DETECTED')"
     "UPDATE `InstallExecuteSequence` SET `Sequence` = 1401 WHERE `Action` = 'RemoveExistingProducts'"
     "INSERT INTO `Property` (`Property`, `Value`) VALUES ('ARPSIZE', '${kib}')"
     "INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('ClassService', 'StartMenu', 'pg_service.conf', 'CLASS_FOLDER', 2)"
     "INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('ClassCertificate', 'StartMenu', 'ecole-ac.crt', 'CLASS_FOLDER', 2)"
     "INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('JoinedClassCertificate', 'StartMenu', 'additions-classe.crt', 'CLASS_FOLDER', 2)")
execute_process(COMMAND msibuild ${MSI} -q ${queries} RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "msibuild could not finish ${MSI}")
endif()
execute_process(COMMAND msiinfo suminfo ${MSI} OUTPUT_VARIABLE summary COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "Subject: [^\n]*" subject "${summary}")
string(REPLACE "Subject: " "" subject "${subject}")
string(REGEX MATCH "Template: [^;\n]*" platform "${summary}")
string(REPLACE "Template: " "" platform "${platform}")
execute_process(COMMAND msibuild ${MSI} -s "${subject}" "Atelier Additions" "${platform};1036"
                COMMAND_ERROR_IS_FATAL ANY)
