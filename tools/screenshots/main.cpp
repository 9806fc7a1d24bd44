// Pictures every registered screen in the language of LANGUAGE/LANG and at
// the scale of QT_SCALE_FACTOR, as <folder>/<name>-<language>@<scale>x.png.
// Run it with QT_QPA_PLATFORM=offscreen, where the windows over a window are
// drawn onto its picture, or under an X server; `make screenshots` runs it in each
// language and scale.
#include "platform/Bundle.h"
#include "tools/screenshots/Shots.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QMainWindow>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <cstdio>
#include <map>
#include <string>

namespace {

std::map<std::string, Shots::Render>& registry()
{
    static std::map<std::string, Shots::Render> shots;
    return shots;
}

// The window with the windows over it that belong to it (its sheets and
// toasts), each where it stands, in the order they were made.
QPixmap picture(QWidget* shown)
{
    // On a real window system (run under Xvfb, say) the screen itself is
    // pictured where the window stands, stacked as the window system stacks it.
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        const QRect area = shown->frameGeometry();
        return shown->screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    }
    QPixmap pixmap = shown->grab();
    if (shown->windowType() != Qt::Window)
        return pixmap;
    QPainter painter(&pixmap);
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (const QWindow* window : QGuiApplication::topLevelWindows()) {
        for (QWidget* over : widgets) {
            if (over->windowHandle() != window || over == shown || !over->isVisible() || !over->parentWidget()
                || over->parentWidget()->window() != shown)
                continue;
            painter.drawPixmap(over->geometry().topLeft() - shown->geometry().topLeft(), over->grab());
        }
    }
    return pixmap;
}

} // namespace

bool Shots::add(const char* name, Render render)
{
    registry().emplace(name, std::move(render));
    return true;
}

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    // What the screens record or store lands in a throw-away home.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/cache")).toUtf8());
    qunsetenv("ZAVRIN_ENDPOINT_BASE");

    QApplication app(argc, argv);
    QApplication::setOrganizationName(Bundle::organizationName());
    QApplication::setApplicationName(Bundle::applicationName());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/zavrin.svg")));
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot make %s\n", argv[1]);
        return 1;
    }
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1"));
    const QString suffix = u'-' + Bundle::preferredLocalization() + u'@' + scale + QStringLiteral("x.png");

    QMainWindow window;
    window.setWindowTitle(Bundle::displayName());
    window.resize(720, 520);
    window.show();
    int failures = 0;
    for (const auto& [name, render] : registry()) {
        QWidget* shown = render(&window);
        // Let layouts and style sheets settle, and windows be mapped, before the picture.
        QTest::qWait(QGuiApplication::platformName() == QLatin1String("offscreen") ? 50 : 400);
        const QString path = folder.filePath(QString::fromStdString(name) + suffix);
        if (!shown || !picture(shown).save(path)) {
            std::fprintf(stderr, "could not picture %s\n", name.c_str());
            ++failures;
        } else {
            std::printf("%s\n", qPrintable(path));
        }
        if (shown != &window)
            delete shown;
    }
    return failures == 0 ? 0 : 1;
}
