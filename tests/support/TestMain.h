#pragma once

#include <QObject>
#include <functional>

// Every area builds one test executable from all its test classes. A class
// registers itself with ZAVRIN_TEST(ClassName) at the end of its file.
namespace ZavrinTest {
bool registerTest(const char* name, std::function<QObject*()> factory);
}

#define ZAVRIN_TEST(Class)                                                                                             \
    static const bool zavrinRegistered##Class = ZavrinTest::registerTest(#Class, [] { return new Class; });
