// Decrypting many entries side by side gives what decrypting each alone
// gives, whatever their number and lengths; checked against an encryptor of
// the test's own.
#include "ZipDecryptor.h"

#include <QtTest>

#include <random>

namespace {

// The traditional ZIP cipher, written out plainly from the format's
// description.
class Encryptor {
public:
    explicit Encryptor(const std::string& password)
    {
        for (char c : password)
            update(static_cast<uint8_t>(c));
    }
    std::vector<uint8_t> encrypt(const std::vector<uint8_t>& plain)
    {
        std::vector<uint8_t> cipher;
        for (uint8_t byte : plain) {
            const uint16_t temp = static_cast<uint16_t>(m_keys[2] | 2);
            cipher.push_back(static_cast<uint8_t>(byte ^ ((temp * (temp ^ 1)) >> 8)));
            update(byte);
        }
        return cipher;
    }

private:
    static uint32_t crc32Step(uint32_t crc, uint8_t byte)
    {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        return crc;
    }
    void update(uint8_t byte)
    {
        m_keys[0] = crc32Step(m_keys[0], byte);
        m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * 134775813u + 1;
        m_keys[2] = crc32Step(m_keys[2], static_cast<uint8_t>(m_keys[1] >> 24));
    }
    uint32_t m_keys[3] = {0x12345678, 0x23456789, 0x34567890};
};

} // namespace

class TestZipDecryptor : public QObject {
    Q_OBJECT

private slots:
    void decryptTogether_data()
    {
        QTest::addColumn<QList<int>>("lengths");
        QTest::newRow("none") << QList<int>{};
        QTest::newRow("one") << QList<int>{1000};
        QTest::newRow("empty among others") << QList<int>{0, 12, 0, 30, 0};
        QTest::newRow("three of one length") << QList<int>{64, 64, 64};
        QTest::newRow("eight, one long") << QList<int>{5, 9, 13, 3000, 1, 2, 7, 40};
        QTest::newRow("more than run at once") << QList<int>{300, 12, 999, 13, 14, 15, 1, 100, 55, 2, 700, 12, 64, 65, 66, 0, 17};
        QList<int> many;
        std::mt19937 random(7);
        for (int i = 0; i < 150; ++i)
            many << static_cast<int>(random() % 5000);
        QTest::newRow("150 of random lengths") << many;
    }
    // Each stream starts from a password of its own; its decryptor must end
    // where it would alone: the next bytes it decrypts come out right.
    void decryptTogether()
    {
        QFETCH(QList<int>, lengths);
        std::mt19937 random(static_cast<unsigned>(lengths.size()));
        std::vector<std::vector<uint8_t>> plain, cipher, plainAfter, after;
        std::vector<ZipDecryptor> decryptors;
        for (int i = 0; i < lengths.size(); ++i) {
            const std::string password = "pass " + std::to_string(i);
            std::vector<uint8_t> bytes(static_cast<size_t>(lengths[i]) + 50);
            for (uint8_t& byte : bytes)
                byte = static_cast<uint8_t>(random());
            const std::vector<uint8_t> encrypted = Encryptor(password).encrypt(bytes);
            plain.emplace_back(bytes.begin(), bytes.begin() + lengths[i]);
            plainAfter.emplace_back(bytes.begin() + lengths[i], bytes.end());
            cipher.emplace_back(encrypted.begin(), encrypted.begin() + lengths[i]);
            after.emplace_back(encrypted.begin() + lengths[i], encrypted.end());
            decryptors.emplace_back(password);
        }
        std::vector<ZipDecryptor::Stream> streams;
        for (size_t i = 0; i < cipher.size(); ++i)
            streams.push_back({&decryptors[i], cipher[i].data(), cipher[i].size()});
        ZipDecryptor::decryptTogether(streams);
        for (size_t i = 0; i < cipher.size(); ++i) {
            QVERIFY2(cipher[i] == plain[i], qPrintable(QString("stream %1").arg(i)));
            decryptors[i].decrypt(after[i].data(), after[i].size());
            QVERIFY2(after[i] == plainAfter[i], qPrintable(QString("stream %1 after").arg(i)));
        }
    }
};

QTEST_GUILESS_MAIN(TestZipDecryptor)
#include "tst_ZipDecryptor.moc"
