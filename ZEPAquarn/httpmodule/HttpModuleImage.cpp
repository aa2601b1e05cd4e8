#include "httpmodule/HttpModuleImage.h"

// The module's file, taken into the executable's read-only data as it is.
asm(".section .rodata.zq_http_module, \"a\"\n"
    ".balign 64\n"
    ".hidden zq_http_module_image\n"
    ".hidden zq_http_module_image_end\n"
    "zq_http_module_image:\n"
    ".incbin \"" ZQ_HTTP_MODULE_FILE "\"\n"
    "zq_http_module_image_end:\n"
    ".previous\n");

extern "C" const char zq_http_module_image[];
extern "C" const char zq_http_module_image_end[];

namespace zq {

QByteArrayView httpModuleImage()
{
    return QByteArrayView(zq_http_module_image, zq_http_module_image_end);
}

} // namespace zq
