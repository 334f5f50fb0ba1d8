// SPDX-License-Identifier: MIT
// Entries of the host's value object as tests publish them: a text, a Boolean or an object.
#pragma once

#include "host/services/HostServicesAdmin.h"

namespace sjql::test {

inline host::VoEntry voText(const QString& name, const QString& text)
{
    host::VoEntry e;
    e.name = name;
    e.kind = host::VoEntry::Text;
    e.text = text;
    return e;
}

inline host::VoEntry voFlag(const QString& name, bool flag)
{
    host::VoEntry e;
    e.name = name;
    e.kind = host::VoEntry::Bool;
    e.flag = flag;
    return e;
}

inline host::VoEntry voObject(const QString& name, void* object)
{
    host::VoEntry e;
    e.name = name;
    e.kind = host::VoEntry::Object;
    e.object = object;
    return e;
}

// Sets the text entry `name`, adding it at the end when the value object has none.
inline void setVoText(const QString& name, const QString& text)
{
    for (host::VoEntry& e : host::state().valueObject) {
        if (e.name == name) {
            e.text = text;
            return;
        }
    }
    host::state().valueObject.push_back(voText(name, text));
}

} // namespace sjql::test
