// Qt SQL finds its drivers as plugins, which takes an application object
// (else Qt warns on every connection): the module makes one before it first
// opens the history.
#pragma once

#include <QCoreApplication>

namespace zemctl {

inline void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "zemctl";
    static char *argv[] = { name, nullptr };
    static QCoreApplication application(argc, argv);
}

} // namespace zemctl
