#pragma once

#include <QByteArrayView>

namespace zq {

// The bytes of the HTTP client module (HttpClientModule.cpp) as built with this executable.
QByteArrayView httpModuleImage();

} // namespace zq
