// The main of every area's test executable: isolates the user folders, makes
// the application object and runs each registered class in turn.
#include "tests/support/TestMain.h"

#include "platform/Bundle.h"

#include <QTemporaryDir>
#include <QTest>
#if ZAVRIN_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include <map>
#include <memory>
#include <string>

using namespace Qt::StringLiterals;

namespace {
std::map<std::string, std::function<QObject*()>>& registry()
{
    static std::map<std::string, std::function<QObject*()>> tests;
    return tests;
}
} // namespace

bool ZavrinTest::registerTest(const char* name, std::function<QObject*()> factory)
{
    registry().emplace(name, std::move(factory));
    return true;
}

int main(int argc, char* argv[])
{
    // Settings, data and caches of the tests never touch the user's own.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + u"/config"_s).toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + u"/data"_s).toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + u"/cache"_s).toUtf8());
    qunsetenv("ZAVRIN_ENDPOINT_BASE");

    TestApplication app(argc, argv);
    TestApplication::setOrganizationName(Bundle::organizationName());
    TestApplication::setApplicationName(Bundle::applicationName());

    // "tst_area Class [options and functions]" runs that class alone.
    QStringList arguments = QCoreApplication::arguments();
    std::string only;
    if (arguments.size() > 1 && registry().count(arguments.at(1).toStdString()) != 0)
        only = arguments.takeAt(1).toStdString();

    int failures = 0;
    for (const auto& [name, factory] : registry()) {
        if (!only.empty() && name != only)
            continue;
        std::unique_ptr<QObject> test(factory());
        failures += QTest::qExec(test.get(), arguments);
    }
    return failures == 0 ? 0 : 1;
}
