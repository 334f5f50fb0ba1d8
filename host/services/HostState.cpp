// SPDX-License-Identifier: MIT
// The host state behind the services, the host folders and the scripted message boxes.
#include "HostServicesAdmin.h"
#include "hostapi/HostFolders.h"

#include <QDir>

namespace sjql::host {

namespace {

HostState& stateInstance()
{
    static HostState s;
    return s;
}

struct BoxRecorder
{
    BoxScript script;
    std::vector<ShownBox> shown;
};

BoxRecorder& boxes()
{
    static BoxRecorder b;
    return b;
}

} // namespace

HostState& state()
{
    return stateInstance();
}

void resetState()
{
    stateInstance() = HostState();
}

QString subAppPath(const QString& code)
{
    const HostState& s = state();
    if (s.homeDir.isEmpty())
        return QString();
    return folders::withSlash(QDir::cleanPath(folders::withSlash(s.homeDir) + QStringLiteral("Apps/") + code));
}

QString subAppUserConfigFile(const QString& code)
{
    const HostState& s = state();
    if (s.homeDir.isEmpty())
        return QString();
    return QDir::cleanPath(folders::withSlash(s.homeDir) + QStringLiteral("Users/") + s.userName + QLatin1Char('/') +
                           code + QStringLiteral(".ini"));
}

QString userConfigFile()
{
    return subAppUserConfigFile(QStringLiteral("User"));
}

void setBoxScript(BoxScript script)
{
    boxes().script = std::move(script);
}

const std::vector<ShownBox>& shownBoxes()
{
    return boxes().shown;
}

void clearShownBoxes()
{
    boxes().shown.clear();
}

// Used by the exported box services: true when a script answered (and *answer holds its answer).
bool scriptedBox(const ShownBox& box, bool* answer)
{
    BoxRecorder& b = boxes();
    if (!b.script)
        return false;
    b.shown.push_back(box);
    *answer = b.script(box);
    return true;
}

} // namespace sjql::host
