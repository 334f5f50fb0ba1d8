// SPDX-License-Identifier: MIT
// A running host for the GUI subcommands: the installation loaded, its connection open, the main
// frame shown and published to the services, the module library loaded from beside the executable.
// Later subcommands (clear, restore, ...) start one and drive the module's window through it.
#pragma once

#include "Commands.h"
#include "Installation.h"
#include "MainFrame.h"

#include <memory>

namespace sjql::host {

class HostSession
{
public:
    HostSession();
    ~HostSession(); // closes the module windows, then the frame, then the connection

    // Loads the installation of --home, opens its database, shows the main frame and loads the
    // module. False with *error set (the message names what failed and how to fix it).
    bool start(const CommandLine& cl, QString* error);

    Installation* installation() const { return m_installation.get(); }
    Tfrm_MainFrame* frame() const { return m_frame.get(); }

    // Saves a PNG of the main frame as it is painted now.
    bool screenshot(const QString& file, QString* error) const;

private:
    std::unique_ptr<Installation> m_installation;
    std::unique_ptr<Tfrm_MainFrame> m_frame;
};

// The module library beside the executable: <bin>/libsjql.so.
QString moduleLibraryPath();

// Lets the event loop run for about `ms` milliseconds (layouts, paints, deferred deletes).
void settle(int ms);

} // namespace sjql::host
