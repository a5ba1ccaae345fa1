#include "Util.h"

#include <QtTest>

#include <array>
#include <set>
#include <string>

namespace {

const std::string kAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";

// Chi-square with 35 degrees of freedom exceeds this with probability 1e-6:
// a fair generator fails one of the 17 checks below about once in 60 000
// runs, while a missing character or a doubled weight shows at once.
constexpr double kChiSquareLimit = 90.0;

double chiSquare(const std::array<long, 36>& counts, long total)
{
    const double expected = static_cast<double>(total) / 36.0;
    double sum = 0;
    for (const long count : counts)
        sum += (count - expected) * (count - expected) / expected;
    return sum;
}

} // namespace

class TestRandomPassword : public QObject {
    Q_OBJECT

private slots:
    void hasLengthAndAlphabet_data();
    void hasLengthAndAlphabet();
    void callsDiffer();
    void everyCharacterAtEveryPositionAlike();
};

void TestRandomPassword::hasLengthAndAlphabet_data()
{
    QTest::addColumn<int>("length");
    for (const int length : {1, 2, 16, 17, 200})
        QTest::addRow("%d", length) << length;
}

void TestRandomPassword::hasLengthAndAlphabet()
{
    QFETCH(int, length);
    for (int round = 0; round < 50; ++round) {
        const std::string password = Util::randomPassword(length);
        QCOMPARE(password.size(), static_cast<size_t>(length));
        QVERIFY2(password.find_first_not_of(kAlphabet) == std::string::npos, password.c_str());
    }
}

// 36^16 values: any repeat among a few thousand calls means the source is
// not random (a fixed or reused starting state, a counter).
void TestRandomPassword::callsDiffer()
{
    std::set<std::string> seen;
    for (int i = 0; i < 5000; ++i)
        QVERIFY2(seen.insert(Util::randomPassword(16)).second, "a password came twice");
    std::set<std::string> singles;
    for (int i = 0; i < 300; ++i)
        singles.insert(Util::randomPassword(1));
    QCOMPARE(singles.size(), size_t(36));
}

void TestRandomPassword::everyCharacterAtEveryPositionAlike()
{
    const long draws = 36 * 250;
    std::array<std::array<long, 36>, 16> atPosition {};
    std::array<long, 36> overall {};
    for (long i = 0; i < draws; ++i) {
        const std::string password = Util::randomPassword(16);
        QCOMPARE(password.size(), size_t(16));
        for (size_t position = 0; position < 16; ++position) {
            const size_t index = kAlphabet.find(password[position]);
            QVERIFY(index != std::string::npos);
            ++atPosition[position][index];
            ++overall[index];
        }
    }
    for (size_t position = 0; position < 16; ++position) {
        const double value = chiSquare(atPosition[position], draws);
        QVERIFY2(value < kChiSquareLimit,
                 qPrintable(QString("position %1: chi-square %2").arg(position).arg(value)));
    }
    const double value = chiSquare(overall, draws * 16);
    QVERIFY2(value < kChiSquareLimit, qPrintable(QString("all positions: chi-square %1").arg(value)));
}

QTEST_GUILESS_MAIN(TestRandomPassword)
#include "tst_RandomPassword.moc"
