// The folders of the product include each other one way: the views over the engine, the design kit
// under every view, no two view folders in a circle, and no two feature folders of the window or of
// the Linux back-ends in a circle. This reads the include lines of the source tree and names every
// line that runs the wrong way.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <gtest/gtest.h>

#include <map>
#include <utility>

namespace {

const QStringList kViewFolders = {QStringLiteral("menubar"), QStringLiteral("menubar/brand"), QStringLiteral("window"),
                                  QStringLiteral("rewards")};
const QStringList kEngineFolders = {QStringLiteral("runtime"),        QStringLiteral("platform"),
                                    QStringLiteral("platform/linux"), QStringLiteral("audio"),
                                    QStringLiteral("transcription"),  QStringLiteral("records"),
                                    QStringLiteral("pipeline")};
const QString kBrand = QStringLiteral("menubar/brand");

// The folder a path below the source root counts for: its first folder, with the design kit and the
// Linux back-ends counted apart from their parents. Files at the root count as one folder, ".".
QString folderOf(const QString &path)
{
    const QStringList parts = path.split(QLatin1Char('/'));
    if (parts.size() == 1)
        return QStringLiteral(".");
    const QString nested = parts[0] + QLatin1Char('/') + parts[1];
    if (parts.size() > 2 && (nested == kBrand || nested == QLatin1String("platform/linux")))
        return nested;
    return parts[0];
}

// The feature folder a path lies in (window/settings, platform/linux/x11, …); empty outside one.
QString featureOf(const QString &path)
{
    const QStringList parts = path.split(QLatin1Char('/'));
    if (parts.size() > 2 && parts[0] == QLatin1String("window"))
        return parts[0] + QLatin1Char('/') + parts[1];
    if (parts.size() > 3 && parts[0] == QLatin1String("platform") && parts[1] == QLatin1String("linux"))
        return parts.mid(0, 3).join(QLatin1Char('/'));
    return {};
}

struct SourceFile {
    QString path; // below the source root
    QString text;
};

// Every cross-folder include line, by (from, to) folder: "path:line  #include "…"".
using IncludeGraph = std::map<std::pair<QString, QString>, QStringList>;

IncludeGraph includeGraph(const QList<SourceFile> &files, QString (*folder)(const QString &) = folderOf)
{
    static const QRegularExpression include(QStringLiteral(R"re(^\s*#\s*include\s*"([^"]+/[^"]+)")re"));
    IncludeGraph graph;
    for (const SourceFile &file : files) {
        const QString from = folder(file.path);
        const QStringList lines = file.text.split(QLatin1Char('\n'));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QRegularExpressionMatch match = include.match(lines[i]);
            if (!match.hasMatch())
                continue;
            const QString to = folder(match.captured(1));
            if (to != from && !from.isEmpty() && !to.isEmpty())
                graph[{from, to}].append(QStringLiteral("%1:%2  %3").arg(file.path).arg(i + 1).arg(lines[i].trimmed()));
        }
    }
    return graph;
}

// The include lines that break the rules, each under the rule it breaks; empty when the graph is sound.
QStringList wrongWayIncludes(const IncludeGraph &graph)
{
    QStringList faults;
    const auto report = [&](const QString &rule, const QStringList &lines) {
        faults.append(rule);
        for (const QString &line : lines)
            faults.append(QStringLiteral("    ") + line);
    };
    for (const auto &[edge, lines] : graph) {
        const auto &[from, to] = edge;
        if (!kViewFolders.contains(to))
            continue;
        if (kEngineFolders.contains(from))
            report(QStringLiteral("the engine folder %1 includes the view folder %2:").arg(from, to), lines);
        else if (from == kBrand)
            report(QStringLiteral("the design kit includes the view folder %1:").arg(to), lines);
        else if (kViewFolders.contains(from) && from < to && graph.count({to, from}))
            report(QStringLiteral("the view folders %1 and %2 include each other:").arg(from, to),
                   lines + graph.at({to, from}));
    }
    return faults;
}

// Feature folders that include each other, from a graph of featureOf folders.
QStringList circularFeatures(const IncludeGraph &graph)
{
    QStringList faults;
    for (const auto &[edge, lines] : graph) {
        const auto &[from, to] = edge;
        if (from < to && graph.count({to, from})) {
            faults.append(QStringLiteral("the feature folders %1 and %2 include each other:").arg(from, to));
            for (const QString &line : lines + graph.at({to, from}))
                faults.append(QStringLiteral("    ") + line);
        }
    }
    return faults;
}

QList<SourceFile> sourceTree(const QString &root)
{
    QList<SourceFile> files;
    QDirIterator it(root, {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files, QDirIterator::Subdirectories);
    const QDir base(root);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly))
            files.append({base.relativeFilePath(file.fileName()), QString::fromUtf8(file.readAll())});
    }
    return files;
}

} // namespace

TEST(IncludeGraphTest, TheRulesCatchEachWrongWayAndLetTheRightWaysPass)
{
    const auto file = [](const char *path, const char *include) {
        return SourceFile{QString::fromLatin1(path),
                          QStringLiteral("#pragma once\n#include \"%1\"\n").arg(QString::fromLatin1(include))};
    };
    const SourceFile allowed[] = {
        file("menubar/MenuPanel.cpp", "window/AppWindowModel.h"),
        file("menubar/PillView.h", "rewards/motion/PillAnimationStyle.h"),
        file("window/HistoryPage.cpp", "menubar/brand/Text.h"),
        file("rewards/stats/StatsPage.cpp", "menubar/brand/Palette.h"),
        file("window/support/SupportPageModel.h", "rewards/updates/Updater.h"),
        file("menubar/brand/Text.cpp", "menubar/brand/Palette.h"),
        file("menubar/brand/ZepaMeter.h", "audio/LevelHistory.h"),
        file("app/ZEPAquarnApp.cpp", "window/AppWindowView.h"),
        file("main.cpp", "platform/linux/freedesktop/PortalDesktopAppearance.h"),
        file("pipeline/Paster.h", "platform/Pasteboard.h"),
    };
    const struct {
        SourceFile wrong;
        const char *named; // the part of the report that names the line
    } cases[] = {
        {file("window/AppSidebar.cpp", "menubar/MenuPanel.h"),
         "window/AppSidebar.cpp:2  #include \"menubar/MenuPanel.h\""},
        {file("rewards/stats/StatsPage.cpp", "window/settings/SettingsRows.h"), "rewards/stats/StatsPage.cpp:2"},
        {file("menubar/brand/VekPillMeter.h", "rewards/motion/PillAnimationStyle.h"), "the design kit includes"},
        {file("menubar/brand/Text.cpp", "menubar/MenuBanners.h"), "menubar/brand/Text.cpp:2"},
        {file("pipeline/DictationController.cpp", "menubar/PillView.h"), "the engine folder pipeline"},
        {file("platform/linux/freedesktop/PortalDesktopAppearance.cpp", "menubar/brand/Palette.h"),
         "platform/linux includes"},
        {file("runtime/Log.cpp", "window/AppWindowView.h"), "runtime/Log.cpp:2"},
    };

    QList<SourceFile> tree(std::begin(allowed), std::end(allowed));
    EXPECT_EQ(wrongWayIncludes(includeGraph(tree)), QStringList());
    // A feature folder and the window's own files may use each other; two features may not.
    tree.append(file("window/history/HistoryPage.cpp", "window/settings/SettingsRows.h"));
    tree.append(file("window/settings/SettingsRows.cpp", "window/AppWindowSection.h"));
    tree.append(file("window/AppWindowSection.cpp", "window/settings/SettingsPages.h"));
    EXPECT_EQ(circularFeatures(includeGraph(tree, featureOf)), QStringList());
    QList<SourceFile> circle = tree;
    circle.append(file("window/settings/SettingsRows.cpp", "window/history/HistoryCopy.h"));
    EXPECT_TRUE(circularFeatures(includeGraph(circle, featureOf))
                    .join(QLatin1Char('\n'))
                    .contains(QLatin1String("window/history and window/settings include each other")));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.wrong.path.toStdString());
        QList<SourceFile> faulty = tree;
        faulty.append(c.wrong);
        const QString report = wrongWayIncludes(includeGraph(faulty)).join(QLatin1Char('\n'));
        EXPECT_TRUE(report.contains(QLatin1String(c.named))) << report.toStdString();
    }
}

TEST(IncludeGraphTest, TheSourceTreeIncludesOneWay)
{
    const QList<SourceFile> tree = sourceTree(QStringLiteral(ZQ_TEST_SOURCE_DIR "/../ZEPAquarn"));
    ASSERT_GT(tree.size(), 100) << "the source tree was not found";
    const IncludeGraph graph = includeGraph(tree);
    ASSERT_TRUE(graph.count({QStringLiteral("window"), kBrand})) << "the include lines were not read";
    const QStringList faults = wrongWayIncludes(graph) + circularFeatures(includeGraph(tree, featureOf));
    EXPECT_TRUE(faults.isEmpty()) << faults.join(QLatin1Char('\n')).toStdString();
}
