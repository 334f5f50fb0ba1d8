// SPDX-License-Identifier: MIT
#include "ui/HashTable.h"

#include <QHash>

namespace sjql::ui {

int THashTable::BucketOf(const QString& key)
{
    return static_cast<int>(qHash(key) % kBuckets);
}

void THashTable::Add(const QString& key, QObject* value)
{
    auto& bucket = FBuckets[static_cast<size_t>(BucketOf(key))];
    for (Entry& e : bucket) {
        if (e.key == key) {
            e.value = value;
            return;
        }
    }
    bucket.push_back(Entry{key, value});
    FKeys.append(key);
}

QObject* THashTable::Get(const QString& key) const
{
    for (const Entry& e : FBuckets[static_cast<size_t>(BucketOf(key))])
        if (e.key == key)
            return e.value;
    return nullptr;
}

bool THashTable::Contains(const QString& key) const
{
    for (const Entry& e : FBuckets[static_cast<size_t>(BucketOf(key))])
        if (e.key == key)
            return true;
    return false;
}

bool THashTable::Remove(const QString& key)
{
    auto& bucket = FBuckets[static_cast<size_t>(BucketOf(key))];
    for (auto it = bucket.begin(); it != bucket.end(); ++it) {
        if (it->key == key) {
            bucket.erase(it);
            FKeys.removeOne(key);
            return true;
        }
    }
    return false;
}

void THashTable::Clear()
{
    for (auto& bucket : FBuckets)
        bucket.clear();
    FKeys.clear();
}

} // namespace sjql::ui
