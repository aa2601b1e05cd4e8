// The HTTP client as a module of its own, so that Qt Network and what it brings (Kerberos, the proxy
// lookup) are mapped when the application first speaks HTTP rather than at every launch. The
// executable carries the module inside itself (HttpModuleImage) and opens it from there
// (HttpClientOnFirstUse): there is never a second file to keep in step with it.
#include "platform/linux/QtHttpClient.h"

extern "C" __attribute__((visibility("default"))) zq::platform::HttpClient *zq_make_http_client()
{
    return new zq::platform::QtHttpClient;
}
