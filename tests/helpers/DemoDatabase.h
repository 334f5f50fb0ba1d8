// SPDX-License-Identifier: MIT
// Test databases filled with the host's demo data, and the fixture of the suites over both
// database kinds whose tests start from one.
#pragma once

#include "context/ModuleContext.h"
#include "db/SqlLog.h"
#include "helpers/ModuleHost.h"
#include "helpers/TestDatabase.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>

namespace sjql::test {

// The demo data a test starts from; the generator's seed is its default, so the rows are the same
// on every run and on both database kinds.
struct DemoShape
{
    int agents = 2;
    int employees = 4;
    int firstYear = 0;
    int lastYear = 0;
    QString period; // the host's current period, "YYYYMM"
};

// Fills `db` with demo data of that shape; the agents' codes, the installation's current one first,
// go to *agents. A failure names what went wrong, the database's own error included.
inline testing::AssertionResult fillDemo(TestDatabase& db, const DemoShape& shape, QStringList* agents)
{
    if (!db.ok())
        return testing::AssertionFailure() << db.error().toStdString();
    host::DemoOptions options;
    options.agents = shape.agents;
    options.employees = shape.employees;
    options.firstYear = shape.firstYear;
    options.lastYear = shape.lastYear;
    options.period = shape.period;
    host::DemoResult demo;
    QString error;
    if (!host::createDemoDatabase(db.connection(), db.kind(), options, &demo, &error))
        return testing::AssertionFailure() << "demo data: " << error.toStdString();
    *agents = demo.agentCodes;
    return testing::AssertionSuccess();
}

// A suite over SJQL_DATABASE_KINDS whose tests start from a fresh database of demo data, its first
// agent published to the module as the host's current one (and its host connection, kind and
// application code with it).
class DemoDatabaseSuite : public testing::TestWithParam<const char*>
{
protected:
    // For SetUp, through ASSERT_NO_FATAL_FAILURE.
    void openDemo(const DemoShape& shape)
    {
        db = std::make_unique<TestDatabase>(QString::fromLatin1(GetParam()));
        QStringList agents;
        ASSERT_TRUE(fillDemo(*db, shape, &agents));
        ASSERT_GE(agents.size(), 2) << "the suites compare the first agent with another";
        agent = agents.at(0);
        other = agents.at(1);
        publishHost(db->connectionPtr(), db->kind(), agent);
    }

    std::unique_ptr<TestDatabase> db;
    QString agent; // the current agent
    QString other; // the second agent of the demo data
};

// A suite of the restore job's tests over demo data: a temporary folder stands for the host's
// executable folder, with the SQL log in its "log" folder; both seams and the published host are
// put back after each test.
class DemoRunSuite : public DemoDatabaseSuite
{
protected:
    // For SetUp, through ASSERT_NO_FATAL_FAILURE: the demo data, the seams and `folders` below the
    // temporary folder.
    void openDemoRun(const DemoShape& shape, std::initializer_list<const char*> folders)
    {
        ASSERT_TRUE(tmp.isValid());
        ASSERT_NO_FATAL_FAILURE(openDemo(shape));
        SetSqlLogFolderOverride(path(QStringLiteral("log")));
        SetHostExeDirOverride(tmp.path());
        QDir().mkpath(path(QStringLiteral("log")));
        for (const char* folder : folders)
            QDir().mkpath(path(QLatin1String(folder)));
    }

    void TearDown() override
    {
        unpublishHost();
        SetSqlLogFolderOverride(QString());
        SetHostExeDirOverride(QString());
    }

    QString path(const QString& name) const { return tmp.filePath(name); }

    QTemporaryDir tmp;
};

} // namespace sjql::test
