// The program's own pictures: one SVG per resource name of the screens (gui/icons), compiled
// into the program. The names are the ones the screens ask for ("firstBtn", "contactNom",
// "partitionImg", ...); a name may contain characters a file name would rather not (the
// resource file gives such pictures their name as an alias).
#pragma once

#include <QIcon>
#include <QString>
#include <string_view>

namespace tamsel {

// Where the picture named `resourceName` lies among the compiled resources
// (":/icons/<name>.svg"), whether or not it exists.
QString iconPath(std::string_view resourceName);

// The picture named `resourceName`; a null icon for a name the set does not have.
QIcon iconFor(std::string_view resourceName);

// A button's two pictures in one icon: `normalName` for the Off state, `pressedName` for the
// On state, so that a checkable button shows the pressed picture while it is checked. A name
// the set does not have leaves its state out (Qt then falls back to the other state).
QIcon buttonIcon(std::string_view normalName, std::string_view pressedName);

}  // namespace tamsel
