#include "device/CarriedPlugin.h"

#include <cstddef>

#ifdef ORVIA_CARRIED_PLUGIN_FILE

// The plugin's bytes, taken into the object file by the assembler. The build
// recompiles this file whenever the plugin is linked again.
asm(".section .rodata.orvia_carried_plugin,\"a\",@progbits\n"
    ".balign 16\n"
    ".globl orvia_carried_plugin_begin\n"
    ".hidden orvia_carried_plugin_begin\n"
    "orvia_carried_plugin_begin:\n"
    ".incbin \"" ORVIA_CARRIED_PLUGIN_FILE "\"\n"
    ".globl orvia_carried_plugin_end\n"
    ".hidden orvia_carried_plugin_end\n"
    "orvia_carried_plugin_end:\n"
    ".previous\n");

extern "C" const char orvia_carried_plugin_begin[];
extern "C" const char orvia_carried_plugin_end[];

std::string_view CarriedPlugin() {
    return std::string_view(
        orvia_carried_plugin_begin,
        static_cast<std::size_t>(orvia_carried_plugin_end - orvia_carried_plugin_begin));
}

#else

std::string_view CarriedPlugin() {
    return {};
}

#endif
