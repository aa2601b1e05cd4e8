#pragma once

#include "platform/UpdateFramework.h"
#include "runtime/Result.h"

#include <QByteArray>
#include <QUrl>

#include <optional>
#include <vector>

namespace zq::platform {

// The update feed: RSS 2.0 whose items carry the application's own namespace for the build, the
// display version, the minimum system version, the release notes link, the critical flag and the
// Ed25519 signature of the enclosure.
namespace appcast {

inline constexpr auto kNamespace = "https://zepaquarn.quorvane.io/xml-namespaces/updates";

// The feed's items in document order; relative links resolve against `feedUrl`. A feed that is not
// well-formed RSS is an error; an item missing something is kept and judged by isUsable().
rt::Result<std::vector<AppcastItem>> parse(const QByteArray &xml, const QUrl &feedUrl);

// Whether an item can be offered at all: an integer build, a version of at most 64 characters, an
// https enclosure with a length (at most 1 GiB) and a signature, and a minimum system version the
// running system meets (when both are known).
bool isUsable(const AppcastItem &item, const QString &systemVersion);

// The newest usable item whose build is above the running build and is not the skipped one.
std::optional<AppcastItem> bestItem(const std::vector<AppcastItem> &items, qint64 runningBuild,
                                    const QString &skippedBuild, const QString &systemVersion);

} // namespace appcast

} // namespace zq::platform
