# The files a user reads beside the programs: the console tool's man page and
# udev rule, and the help rendered into the PDF. Each is written into
# <build>/generated with the version set by project(), the Tarvik-USB
# reader's USB ids from protocol/usb_ids.h, the line's speed and the supported
# firmware, so none of them is typed in them again.
# tools/package takes them from there.

file(STRINGS ${CMAKE_SOURCE_DIR}/protocol/usb_ids.h usb_id_lines
     REGEX "^constexpr int TarvikUsb(VendorId|ProductId|Revision) = 0x[0-9A-Fa-f]+;")
foreach(part VendorId ProductId Revision)
    set(value)
    foreach(line IN LISTS usb_id_lines)
        if(line MATCHES "TarvikUsb${part} = 0x([0-9A-Fa-f]+);")
            set(value ${CMAKE_MATCH_1})
        endif()
    endforeach()
    string(LENGTH "${value}" length)
    if(NOT length EQUAL 4)
        message(FATAL_ERROR "protocol/usb_ids.h: no four-digit TarvikUsb${part}")
    endif()
    string(REGEX REPLACE "Id$" "" name ${part})
    string(TOUPPER ${name} name)
    string(TOUPPER ${value} TARVIK_USB_${name})
    string(TOLOWER ${value} TARVIK_USB_${name}_LOWER)
endforeach()

# The line's speed and the firmware the programs support, from the code that
# uses them.
file(STRINGS ${CMAKE_SOURCE_DIR}/protocol/line_format.h baud_line REGEX "^constexpr int ReaderBaudRate = [0-9]+;")
file(STRINGS ${CMAKE_SOURCE_DIR}/protocol/wire.h firmware_line
     REGEX "^constexpr char SupportedFirmwareVersion\\[.*\\] = \"[0-9.]+\";")
if(NOT baud_line MATCHES "= ([0-9]+)")
    message(FATAL_ERROR "protocol/line_format.h: no ReaderBaudRate")
endif()
set(READER_BAUD ${CMAKE_MATCH_1})
if(NOT firmware_line MATCHES "= \"([0-9.]+)\"")
    message(FATAL_ERROR "protocol/wire.h: no SupportedFirmwareVersion")
endif()
set(READER_FIRMWARE ${CMAKE_MATCH_1})

set(VELMORA_VERSION ${PROJECT_VERSION})
set(VELMORA_HELP_FILE "Velmora ver_${PROJECT_VERSION_MAJOR}_${PROJECT_VERSION_MINOR}.pdf")

foreach(document packaging/linux/velmora-cli.1 packaging/linux/60-velmora.rules docs/help/velmora-help.html)
    get_filename_component(name ${document} NAME)
    configure_file(${CMAKE_SOURCE_DIR}/${document}.in ${CMAKE_BINARY_DIR}/generated/${name} @ONLY)
endforeach()
