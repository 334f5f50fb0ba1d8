// SPDX-License-Identifier: MIT
// THashTable: objects by text key in 256 buckets, keys kept in the order they were added.
//
// The table does not own its objects: whoever fills it frees them (KeyAt(0) and Remove empty it in order).
// Keys are case-sensitive. Not thread-safe; GUI thread only in this module.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <vector>

namespace sjql::ui {

class THashTable
{
public:
    static constexpr int kBuckets = 256;

    // Stores an object under a key, replacing what was stored there before.
    void Add(const QString& key, QObject* value);
    // The object stored under the key, or null.
    QObject* Get(const QString& key) const;
    bool Contains(const QString& key) const;
    // Removes the key; true when it was there.
    bool Remove(const QString& key);
    int Count() const { return static_cast<int>(FKeys.size()); }
    // The key at a position in the order of adding; the index must be in range.
    QString KeyAt(int index) const { return FKeys.at(index); }
    void Clear();

private:
    struct Entry
    {
        QString key;
        QObject* value;
    };
    static int BucketOf(const QString& key);

    std::array<std::vector<Entry>, kBuckets> FBuckets;
    QStringList FKeys;
};

} // namespace sjql::ui
