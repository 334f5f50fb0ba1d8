// SPDX-License-Identifier: MIT
// Demo data of the reference host: agents, employees, monthly wages with the tax of their period,
// non-wage income, withholding reports and monthly declarations.
#include "host/data/HostDatabase.h"

#include <QDate>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <array>
#include <cstdio>
#include <sqlite3.h>
#include <vector>

namespace sjql::host {
namespace {

// ---- Tax tables ------------------------------------------------------------------------------

struct Bracket
{
    qint64 upTo; // cents of taxable income, 0 = no upper bound
    int rateBp;
    qint64 quick; // cents
};

constexpr qint64 Y = 100; // one yuan in cents

// Nine brackets of 1994 (thresholds 800, 1600 from 2006-01, 2000 from 2008-03).
constexpr std::array<Bracket, 9> kNine = {{{500 * Y, 500, 0},
                                           {2000 * Y, 1000, 25 * Y},
                                           {5000 * Y, 1500, 125 * Y},
                                           {20000 * Y, 2000, 375 * Y},
                                           {40000 * Y, 2500, 1375 * Y},
                                           {60000 * Y, 3000, 3375 * Y},
                                           {80000 * Y, 3500, 6375 * Y},
                                           {100000 * Y, 4000, 10375 * Y},
                                           {0, 4500, 15375 * Y}}};
// Seven brackets from 2011-09, threshold 3500.
constexpr std::array<Bracket, 7> kSeven2011 = {{{1500 * Y, 300, 0},
                                                {4500 * Y, 1000, 105 * Y},
                                                {9000 * Y, 2000, 555 * Y},
                                                {35000 * Y, 2500, 1005 * Y},
                                                {55000 * Y, 3000, 2755 * Y},
                                                {80000 * Y, 3500, 5505 * Y},
                                                {0, 4500, 13505 * Y}}};
// Seven brackets from 2018-10, threshold 5000 (monthly table; the cumulative method of 2019 is
// simplified to it).
constexpr std::array<Bracket, 7> kSeven2018 = {{{3000 * Y, 300, 0},
                                                {12000 * Y, 1000, 210 * Y},
                                                {25000 * Y, 2000, 1410 * Y},
                                                {35000 * Y, 2500, 2660 * Y},
                                                {55000 * Y, 3000, 4410 * Y},
                                                {80000 * Y, 3500, 7160 * Y},
                                                {0, 4500, 15160 * Y}}};

template <size_t N> void applyBrackets(const std::array<Bracket, N>& table, WageTax& t)
{
    for (const Bracket& b : table) {
        if (b.upTo == 0 || t.taxable <= b.upTo) {
            t.rateBp = b.rateBp;
            t.quick = b.quick;
            break;
        }
    }
    // Round half up to the cent.
    t.tax = std::max<qint64>(0, (t.taxable * t.rateBp + 5000) / 10000 - t.quick);
}

qint64 percentOf(qint64 cents, int bp)
{
    return (cents * bp + 5000) / 10000;
}

// Labour remuneration: 800 deducted up to 4000, 20% above; 20%, with the surcharge brackets.
void labourTax(qint64 income, qint64* deduction, qint64* taxable, int* rateBp, qint64* quick, qint64* tax)
{
    *deduction = income <= 4000 * Y ? std::min(income, 800 * Y) : percentOf(income, 2000);
    *taxable = income - *deduction;
    if (*taxable <= 20000 * Y) {
        *rateBp = 2000;
        *quick = 0;
    } else if (*taxable <= 50000 * Y) {
        *rateBp = 3000;
        *quick = 2000 * Y;
    } else {
        *rateBp = 4000;
        *quick = 7000 * Y;
    }
    *tax = std::max<qint64>(0, percentOf(*taxable, *rateBp) - *quick);
}

// ---- Deterministic randomness ---------------------------------------------------------------

// splitmix64: the same numbers on every platform and library, unlike the std distributions.
quint64 mix(quint64 x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

class Rng
{
public:
    explicit Rng(quint64 seed) : m_state(seed) {}
    quint64 next() { return mix(m_state++ * 0x2545F4914F6CDD1DULL); }
    // Uniform in [lo, hi].
    qint64 range(qint64 lo, qint64 hi) { return lo + static_cast<qint64>(next() % static_cast<quint64>(hi - lo + 1)); }
    bool chance(int percent) { return static_cast<int>(next() % 100) < percent; }
    template <typename T, size_t N> const T& pick(const std::array<T, N>& a) { return a[next() % N]; }

private:
    quint64 m_state;
};

const std::array<const char*, 24> kSurnames = {"王", "李", "张", "刘", "陈",   "杨",   "赵",   "黄",
                                               "周", "吴", "徐", "孙", "胡",   "朱",   "高",   "林",
                                               "何", "郭", "马", "罗", "欧阳", "司马", "诸葛", "上官"};
const std::array<const char*, 32> kGiven = {"伟", "芳", "娜", "敏", "静", "丽", "强", "磊", "军", "洋", "勇",
                                            "艳", "杰", "娟", "涛", "明", "超", "秀", "英", "华", "慧", "建",
                                            "国", "平", "红", "玲", "鑫", "宇", "浩", "晨", "婷", "鹏"};
const std::array<const char*, 6> kCompanies = {
    "北京华信达科技发展有限公司",           "上海浦东新区金桥经济技术开发区联合会计师事务所（特殊普通合伙）",
    "广州市天河区明德教育咨询服务中心",     "深圳前海微众创新投资管理有限公司第三分公司",
    "杭州西湖区文化创意产业园区管理委员会", "成都高新技术产业开发区科技企业孵化服务有限责任公司"};

QString u(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// A resident identity number with its ISO 7064 check character.
QString idNumber(Rng& rng)
{
    static const std::array<const char*, 6> regions = {"110108", "310115", "440106", "330106", "510107", "120101"};
    const QDate birth = QDate(1960, 1, 1).addDays(rng.range(0, 14000));
    QString s = QString::fromLatin1(rng.pick(regions)) + birth.toString(QStringLiteral("yyyyMMdd")) +
                QStringLiteral("%1").arg(rng.range(1, 999), 3, 10, QLatin1Char('0'));
    static const int weights[17] = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
    int sum = 0;
    for (int i = 0; i < 17; ++i)
        sum += (s.at(i).unicode() - '0') * weights[i];
    s += QLatin1Char("10X98765432"[sum % 11]);
    return s;
}

// ---- Writing rows ----------------------------------------------------------------------------

struct Cell
{
    enum Kind
    {
        Int,
        Money,
        Rate,
        Text,
        Date,
        Null
    } kind;
    qint64 n = 0;
    QString s;
};
Cell I(qint64 v)
{
    return {Cell::Int, v, {}};
}
Cell M(qint64 cents)
{
    return {Cell::Money, cents, {}};
}
Cell R(int bp)
{
    return {Cell::Rate, bp, {}};
}
Cell T(QString s)
{
    return {Cell::Text, 0, std::move(s)};
}
Cell D(QDate d)
{
    return d.isValid() ? Cell{Cell::Date, 0, d.toString(Qt::ISODate)} : Cell{Cell::Null, 0, {}};
}

// Appends a fixed-point number ("-12.34") without going through QString::arg, which would be a
// good part of the MariaDB generation time.
void appendDecimal(QString& out, qint64 v, int decimals)
{
    char buf[32];
    const qint64 scale = decimals == 2 ? 100 : 10000;
    const qint64 a = v < 0 ? -v : v;
    int n = std::snprintf(buf, sizeof buf, "%s%lld.%0*lld", v < 0 ? "-" : "", static_cast<long long>(a / scale),
                          decimals, static_cast<long long>(a % scale));
    out += QLatin1String(buf, n);
}

// Inserts rows of one table: prepared statements on SQLite, multi-row INSERTs on MariaDB.
class TableWriter
{
public:
    TableWriter(QSqlDatabase db, bool sqlite, const QString& table, const QStringList& columns)
        : m_db(db), m_sqlite(sqlite), m_table(table), m_columns(columns.join(QStringLiteral(", ")))
    {
        if (!m_sqlite)
            return;
        // Straight to SQLite: Qt's bound values cost more than the insert itself at a million rows.
        const QVariant handle = db.driver()->handle();
        sqlite3* raw = handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0
                           ? *static_cast<sqlite3* const*>(handle.constData())
                           : nullptr;
        if (!raw) {
            m_error = QStringLiteral("no SQLite handle");
            return;
        }
        QStringList marks;
        for (qsizetype i = 0; i < columns.size(); ++i)
            marks << QStringLiteral("?");
        const QByteArray sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                   .arg(table, m_columns, marks.join(QLatin1Char(',')))
                                   .toUtf8();
        if (sqlite3_prepare_v2(raw, sql.constData(), static_cast<int>(sql.size()), &m_stmt, nullptr) != SQLITE_OK)
            m_error = QString::fromUtf8(sqlite3_errmsg(raw));
    }

    ~TableWriter() { sqlite3_finalize(m_stmt); }
    TableWriter(const TableWriter&) = delete;
    TableWriter& operator=(const TableWriter&) = delete;

    bool add(const std::vector<Cell>& row)
    {
        ++m_rows;
        return m_sqlite ? addPrepared(row) : addBuffered(row);
    }

    bool flush()
    {
        if (m_sqlite || m_pending == 0)
            return m_error.isEmpty();
        QSqlQuery q(m_db);
        if (!q.exec(m_buffer)) {
            m_error = q.lastError().text();
            return false;
        }
        m_buffer.clear();
        m_pending = 0;
        return true;
    }

    qint64 rows() const { return m_rows; }
    QString error() const { return QStringLiteral("%1: %2").arg(m_table, m_error); }

private:
    bool addPrepared(const std::vector<Cell>& row)
    {
        if (!m_stmt)
            return false;
        int rc = SQLITE_OK;
        for (size_t i = 0; i < row.size() && rc == SQLITE_OK; ++i) {
            const Cell& c = row[i];
            const int pos = static_cast<int>(i) + 1;
            switch (c.kind) {
            case Cell::Int:
                rc = sqlite3_bind_int64(m_stmt, pos, c.n);
                break;
            case Cell::Money:
                rc = sqlite3_bind_double(m_stmt, pos, static_cast<double>(c.n) / 100.0);
                break;
            case Cell::Rate:
                rc = sqlite3_bind_double(m_stmt, pos, static_cast<double>(c.n) / 10000.0);
                break;
            case Cell::Text:
            case Cell::Date: {
                const QByteArray utf8 = c.s.toUtf8();
                rc = sqlite3_bind_text(m_stmt, pos, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
                break;
            }
            case Cell::Null:
                rc = sqlite3_bind_null(m_stmt, pos);
                break;
            }
        }
        if (rc == SQLITE_OK)
            rc = sqlite3_step(m_stmt) == SQLITE_DONE ? SQLITE_OK : SQLITE_ERROR;
        if (rc != SQLITE_OK)
            m_error = QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(m_stmt)));
        sqlite3_reset(m_stmt);
        return rc == SQLITE_OK;
    }

    bool addBuffered(const std::vector<Cell>& row)
    {
        if (m_pending == 0)
            m_buffer = QStringLiteral("INSERT INTO %1 (%2) VALUES ").arg(m_table, m_columns);
        else
            m_buffer += QLatin1Char(',');
        m_buffer += QLatin1Char('(');
        for (size_t i = 0; i < row.size(); ++i) {
            if (i)
                m_buffer += QLatin1Char(',');
            const Cell& c = row[i];
            switch (c.kind) {
            case Cell::Int:
                m_buffer += QString::number(c.n);
                break;
            case Cell::Money:
                appendDecimal(m_buffer, c.n, 2);
                break;
            case Cell::Rate:
                appendDecimal(m_buffer, c.n, 4);
                break;
            case Cell::Text:
            case Cell::Date: {
                m_buffer += QLatin1Char('\'');
                if (c.s.contains(QLatin1Char('\\')) || c.s.contains(QLatin1Char('\''))) {
                    // MariaDB reads backslashes as escapes unless told otherwise.
                    QString v = c.s;
                    v.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("''"));
                    m_buffer += v;
                } else {
                    m_buffer += c.s;
                }
                m_buffer += QLatin1Char('\'');
                break;
            }
            case Cell::Null:
                m_buffer += QLatin1String("NULL");
                break;
            }
        }
        m_buffer += QLatin1Char(')');
        return ++m_pending < kRowsPerStatement || flush();
    }

    static constexpr int kRowsPerStatement = 500;
    QSqlDatabase m_db;
    bool m_sqlite;
    QString m_table;
    QString m_columns;
    sqlite3_stmt* m_stmt = nullptr;
    QString m_buffer;
    int m_pending = 0;
    qint64 m_rows = 0;
    QString m_error;
};

QStringList cols(const char* list)
{
    return QString::fromLatin1(list).split(QLatin1Char(','), Qt::SkipEmptyParts);
}

struct Employee
{
    QString gh, name, id;
    int idType = 1;
    qint64 base = 0;                   // monthly wage in the first year, cents
    int firstMonth = 0, lastMonth = 0; // month indexes (year * 12 + month - 1), inclusive
};

int monthIndex(int year, int month)
{
    return year * 12 + month - 1;
}

QString periodText(int index)
{
    return QStringLiteral("%1%2").arg(index / 12).arg(index % 12 + 1, 2, 10, QLatin1Char('0'));
}

struct MonthStatus
{
    int sbzt = 1, fkzt = 1, zczt = 0, sdbz = 0;
};

class Generator
{
public:
    Generator(QSqlDatabase db, bool sqlite, const DemoOptions& o, int firstYear, int lastPeriodIndex)
        : m_opt(o), m_firstYear(firstYear), m_lastIndex(lastPeriodIndex),
          m_sbzb(db, sqlite, QStringLiteral("SBZB"), cols("WYSBH,SBYF,KJYWRBM,SBRQ,RS,SRZE,YNSE,SBZT,FKZT,ZCZT,SDBZ")),
          m_wage(db, sqlite, QStringLiteral("ZCGZXJMXB"),
                 cols("KJYWRBM,GH,XM,ZZLX,ZZHM,SDXM,QSRQ,ZZRQ,FFYF,YFGZ,YLBX,YLOBX,SYBX,ZFGJJ,QTMSSD,MSXMHJ,BZSSD,"
                      "FYKCBZ,SJJZE,ZYKCJZE,YNSSDE,SL,SSKCS,YNSE,JMSE,YSBSRE,CBYNSE,CBBZ,SJYNSE,WYSBH,GXBZ,zcyf")),
          m_nonWage(db, sqlite, QStringLiteral("FGZXJB"),
                    cols("KJYWRBM,XM,ZZLX,ZZHM,GZDW,SDXM,QSRQ,ZZRQ,FFYF,SRE,YXKCSF,FYKCBZ,SJJZE,ZYKCJZE,YNSSDE,SL,"
                         "SSKCS,YNSE,JMSE,SJYNSE,XDSL,WYSBH,GXBZ,CBBZ,ZCYF,YSBSRE,CBYNSE,ZCID")),
          m_report(db, sqlite, QStringLiteral("KJSDSBGB"),
                   cols("KJYWRBM,WYSBH,NSRXM,ZZLX,ZZHM,SDXM,FFYF,ZZRQ,QSRQ,SRE,YLBX,YLOBX,SYBX,ZFGJJ,QTMSSD,MSXMHJ,"
                        "BZSSD,FYKCBZ,YXKCSY,ZYKCDJZE,YNSSDE,SL,SSKCS,YNSE,JMSE,SJYNSE,BZ,BS,SFDY"))
    {}

    QString error;

    bool run(QStringList* agentCodes)
    {
        Rng rng(mix(m_opt.seed));
        const int first = monthIndex(m_firstYear, 1);
        const int total = m_opt.agents * (m_lastIndex - first + 1);
        int done = 0;
        for (int a = 0; a < m_opt.agents; ++a) {
            const QString agent =
                QStringLiteral("9111010%1MA0%2").arg(a % 10).arg(rng.range(0, 9999999), 7, 10, QLatin1Char('0'));
            *agentCodes << agent;
            const bool lateStarter = a == m_opt.agents - 1;
            const int start = lateStarter ? monthIndex(m_firstYear, 7) : first;
            const std::vector<Employee> staff = makeStaff(rng, start);
            for (int m = first; m <= m_lastIndex; ++m) {
                if (!month(agent, a, m, m >= start ? staff : std::vector<Employee>()))
                    return false;
                if (m_opt.onMonth)
                    m_opt.onMonth(a, ++done, total);
            }
        }
        for (TableWriter* w : {&m_sbzb, &m_wage, &m_nonWage, &m_report}) {
            if (!w->flush()) {
                error = w->error();
                return false;
            }
        }
        return true;
    }

    qint64 historyRows() const { return m_wage.rows() + m_nonWage.rows() + m_report.rows(); }

private:
    std::vector<Employee> makeStaff(Rng& rng, int start)
    {
        std::vector<Employee> staff;
        for (int e = 0; e < m_opt.employees; ++e) {
            Employee p;
            p.gh = QStringLiteral("%1").arg(e + 1, 5, 10, QLatin1Char('0'));
            if (e == 2) {
                // A foreign employee with a passport, and a quote in the name.
                p.name = QStringLiteral("O'Brien Patrick");
                p.idType = 2;
                p.id = QStringLiteral("E%1").arg(rng.range(10000000, 99999999));
            } else {
                p.name = u(rng.pick(kSurnames)) + u(rng.pick(kGiven));
                if (rng.chance(60))
                    p.name += u(rng.pick(kGiven));
                p.id = idNumber(rng);
            }
            // Mostly ordinary wages, a few below the threshold, one in the top bracket.
            if (e == 0)
                p.base = rng.range(90000, 150000) * Y;
            else if (rng.chance(10))
                p.base = rng.range(1200, 2600) * Y;
            else
                p.base = rng.range(3000, 26000) * Y;
            p.firstMonth = start;
            p.lastMonth = m_lastIndex;
            if (e > 3 && rng.chance(25)) // joins later
                p.firstMonth = start + static_cast<int>(rng.range(1, 40));
            if (e > 3 && rng.chance(15)) // leaves
                p.lastMonth = p.firstMonth + static_cast<int>(rng.range(6, 60));
            staff.push_back(p);
        }
        return staff;
    }

    MonthStatus statusOf(int agentIndex, int m) const
    {
        MonthStatus s;
        if (m == m_lastIndex) {
            s.sbzt = 0;
            s.fkzt = 0;
            return s;
        }
        if (m == m_lastIndex - 1)
            s.fkzt = 0;
        const int specialYear = m_firstYear + 1 <= m_lastIndex / 12 ? m_firstYear + 1 : m_firstYear;
        if (agentIndex == 0 && m / 12 == specialYear) {
            switch (m % 12 + 1) {
            case 3:
                s.zczt = 1;
                break;
            case 4:
                s.zczt = 2;
                break;
            case 5:
                s.sbzt = 9;
                break;
            case 6:
                s.sbzt = 0;
                s.fkzt = 0;
                break;
            case 7:
                s.fkzt = 0;
                break;
            case 8:
                s.sdbz = 1;
                break;
            default:
                break;
            }
        }
        return s;
    }

    bool month(const QString& agent, int agentIndex, int m, const std::vector<Employee>& staff)
    {
        const QString period = periodText(m);
        const QDate begin(m / 12, m % 12 + 1, 1);
        const QDate end = begin.addMonths(1).addDays(-1);
        const QString wysbh =
            QStringLiteral("%1%2%3").arg(period, agent.right(7)).arg(agentIndex + 1, 3, 10, QLatin1Char('0'));
        const QString zcyf = period;
        // Per-month randomness depends only on seed, agent and month, not on the loop history.
        Rng rng(mix(m_opt.seed ^ mix(static_cast<quint64>(agentIndex) * 1000003ULL + static_cast<quint64>(m))));
        const int years = m / 12 - m_firstYear;
        const bool halfUnemployment = m >= monthIndex(2016, 5);
        const qint64 insuranceCap = (15000 + 1500 * static_cast<qint64>(years)) * Y;

        static const QString wageItem = u("正常工资薪金所得");
        static const QString longRemark = u("本月含补发以前月份工资及年终奖金，已按规定合并计税；"
                                            "如有疑问请与人力资源部薪酬组联系核对明细。")
                                              .repeated(4);
        static const QString shortRemark = u("补缴社保");
        int people = 0;
        qint64 income = 0, tax = 0;
        for (size_t e = 0; e < staff.size(); ++e) {
            const Employee& p = staff[e];
            if (m < p.firstMonth || m > p.lastMonth)
                continue;
            ++people;
            // 6% a year, a little monthly variation, a thirteenth salary in December.
            qint64 wage = p.base;
            for (int y = 0; y < years; ++y)
                wage += percentOf(wage, 600);
            wage += percentOf(wage, static_cast<int>(rng.range(-300, 500)));
            if (m % 12 == 11)
                wage += p.base;
            const qint64 base = std::min(wage, insuranceCap);
            const qint64 pension = percentOf(base, 800), medical = percentOf(base, 200) + 3 * Y;
            const qint64 unemployment = percentOf(base, halfUnemployment ? 50 : 100);
            const qint64 fund = percentOf(base, 1200);
            const qint64 exempt = pension + medical + unemployment + fund;
            const WageTax t = monthlyWageTax(period, wage - exempt);
            income += wage;
            tax += t.tax;
            const int gxbz = rng.chance(5) ? 1 : 0;
            if (!m_wage.add({T(agent),
                             T(p.gh),
                             T(p.name),
                             I(p.idType),
                             T(p.id),
                             T(wageItem),
                             D(begin),
                             D(end),
                             T(period),
                             M(wage),
                             M(pension),
                             M(medical),
                             M(unemployment),
                             M(fund),
                             M(0),
                             M(exempt),
                             M(0),
                             M(t.threshold),
                             M(0),
                             M(0),
                             M(t.taxable),
                             R(t.rateBp),
                             M(t.quick),
                             M(t.tax),
                             M(0),
                             M(wage),
                             M(0),
                             I(0),
                             M(t.tax),
                             T(wysbh),
                             I(gxbz),
                             T(zcyf)}))
                return fail(m_wage);
            QString remark;
            if (rng.chance(2))
                remark = longRemark;
            else if (rng.chance(5))
                remark = shortRemark;
            if (!m_report.add({T(agent),
                               T(wysbh),
                               T(p.name),
                               I(p.idType),
                               T(p.id),
                               T(wageItem),
                               T(period),
                               D(end),
                               D(begin),
                               M(wage),
                               M(pension),
                               M(medical),
                               M(unemployment),
                               M(fund),
                               M(0),
                               M(exempt),
                               {Cell::Money, 0, {}},
                               M(t.threshold),
                               M(0),
                               M(0),
                               M(t.taxable),
                               R(t.rateBp),
                               M(t.quick),
                               M(t.tax),
                               M(0),
                               M(t.tax),
                               T(remark),
                               I(1),
                               I(rng.chance(30) ? 1 : 0)}))
                return fail(m_report);
            if (rng.chance(12) && !nonWage(agent, wysbh, period, begin, end, p, rng, &income, &tax))
                return false;
        }
        const MonthStatus s = statusOf(agentIndex, m);
        const QDate declared = s.sbzt == 1 ? end.addDays(10) : QDate();
        if (!m_sbzb.add({T(wysbh), T(period), T(agent), D(declared), I(people), M(income), M(tax), I(s.sbzt), I(s.fkzt),
                         I(s.zczt), I(s.sdbz)}))
            return fail(m_sbzb);
        return true;
    }

    bool nonWage(const QString& agent, const QString& wysbh, const QString& period, QDate begin, QDate end,
                 const Employee& p, Rng& rng, qint64* income, qint64* tax)
    {
        const qint64 sre = rng.range(500, 60000) * Y;
        qint64 deduction, taxable, quick, due;
        int rate;
        labourTax(sre, &deduction, &taxable, &rate, &quick, &due);
        *income += sre;
        *tax += due;
        const QString company = u(rng.pick(kCompanies));
        static const QString item = u("劳务报酬所得");
        if (!m_nonWage.add({T(agent),   T(p.name), I(p.idType), T(p.id),
                            T(company), T(item),   D(begin),    D(end),
                            T(period),  M(sre),    M(0),        M(deduction),
                            M(0),       M(0),      M(taxable),  R(rate),
                            M(quick),   M(due),    M(0),        M(due),
                            I(0),       T(wysbh),  I(0),        I(0),
                            T(period),  M(sre),    M(0),        I(static_cast<qint64>(rng.range(0, 99999)))}))
            return fail(m_nonWage);
        if (!m_report.add({T(agent),
                           T(wysbh),
                           T(p.name),
                           I(p.idType),
                           T(p.id),
                           T(item),
                           T(period),
                           D(end),
                           D(begin),
                           M(sre),
                           M(0),
                           M(0),
                           M(0),
                           M(0),
                           M(0),
                           M(0),
                           {Cell::Money, 0, {}},
                           M(deduction),
                           M(0),
                           M(0),
                           M(taxable),
                           R(rate),
                           M(quick),
                           M(due),
                           M(0),
                           M(due),
                           T(company),
                           I(2),
                           I(0)}))
            return fail(m_report);
        return true;
    }

    bool fail(const TableWriter& w)
    {
        error = w.error();
        return false;
    }

    const DemoOptions& m_opt;
    int m_firstYear;
    int m_lastIndex;
    TableWriter m_sbzb, m_wage, m_nonWage, m_report;
};

} // namespace

WageTax monthlyWageTax(const QString& period, qint64 incomeAfterInsurance)
{
    WageTax t;
    const int p = period.toInt();
    if (p < 200601)
        t.threshold = 800 * Y;
    else if (p < 200803)
        t.threshold = 1600 * Y;
    else if (p < 201109)
        t.threshold = 2000 * Y;
    else if (p < 201810)
        t.threshold = 3500 * Y;
    else
        t.threshold = 5000 * Y;
    t.taxable = std::max<qint64>(0, incomeAfterInsurance - t.threshold);
    if (p < 201109)
        applyBrackets(kNine, t);
    else if (p < 201810)
        applyBrackets(kSeven2011, t);
    else
        applyBrackets(kSeven2018, t);
    return t;
}

bool createDemoDatabase(HostConnection& connection, const QString& typeName, const DemoOptions& options,
                        DemoResult* result, QString* error)
{
    auto failWith = [error](const QString& text) {
        if (error)
            *error = QStringLiteral("demo data: %1").arg(text);
        return false;
    };
    QString period = options.period;
    if (period.isEmpty())
        period = QDate::currentDate().toString(QStringLiteral("yyyyMM"));
    const int periodYear = period.left(4).toInt();
    const int periodMonth = period.mid(4).toInt();
    if (period.size() != 6 || periodYear < 1990 || periodMonth < 1 || periodMonth > 12)
        return failWith(QStringLiteral("period \"%1\" is not YYYYMM").arg(period));
    if (options.agents < 1 || options.employees < 3)
        return failWith(QStringLiteral("need at least one agent and three employees"));
    const int firstYear = options.firstYear > 0 ? options.firstYear : periodYear - 5;
    const int lastYear = std::min(options.lastYear > 0 ? options.lastYear : periodYear, periodYear);
    if (firstYear > lastYear)
        return failWith(QStringLiteral("years %1-%2 are empty").arg(firstYear).arg(lastYear));
    const int lastIndex = lastYear == periodYear ? monthIndex(periodYear, periodMonth) : monthIndex(lastYear, 12);

    QString schemaError;
    if (!createSchema(connection, typeName, &schemaError))
        return failWith(schemaError);
    const bool sqlite = typeName.compare(QLatin1String("SQLITE"), Qt::CaseInsensitive) == 0;
    // One transaction: on SQLite every statement outside one would be a file sync of its own.
    if (!connection.beginTrans())
        return failWith(connection.lastError());
    DemoResult r;
    bool ok;
    {
        Generator gen(connection.database(), sqlite, options, firstYear, lastIndex);
        ok = gen.run(&r.agentCodes);
        if (!ok) {
            connection.rollbackTrans();
            return failWith(gen.error);
        }
        r.rows = gen.historyRows();
    }
    if (!connection.commitTrans())
        return failWith(connection.lastError());
    r.firstYear = firstYear;
    r.lastYear = lastYear;
    r.period = period;
    if (result)
        *result = r;
    return ok;
}

} // namespace sjql::host
