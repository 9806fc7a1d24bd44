#pragma once

#include <QString>
#include <functional>

class QWidget;

// One picture of the screenshots program: `render` builds and shows what is
// pictured over `window` (an empty main window standing for the home window)
// and returns the widget to grab; the program deletes it afterwards, unless
// it is `window` itself. Register each with ZAVRIN_SHOT in its own file.
namespace Shots {
using Render = std::function<QWidget*(QWidget* window)>;
bool add(const char* name, Render render);
} // namespace Shots

#define ZAVRIN_SHOT(name, render) static const bool zavrinShot_##render = Shots::add(name, render);
