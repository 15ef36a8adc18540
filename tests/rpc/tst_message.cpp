// The channel's lines: what is a request, what is refused with which code,
// and how a stream of bytes becomes lines.
#include "rpcmessage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

Q_DECLARE_METATYPE(RpcMessage::Kind)

class TestMessage : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void responseRoundTrip();
    void malformedErrorObject();
    void lineReaderSplitsAndJoins();
    void lineReaderBound_data();
    void lineReaderBound();
};

void TestMessage::parse_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<RpcMessage::Kind>("kind");
    QTest::addColumn<int>("code");        // Invalid: the error answered
    QTest::addColumn<QJsonValue>("id");   // the id answered with

    using K = RpcMessage::Kind;
    const QJsonValue null;
    QTest::newRow("request") << QByteArray(R"({"jsonrpc":"2.0","id":1,"method":"Engine.Ping"})")
                             << K::Request << 0 << QJsonValue(1);
    QTest::newRow("string id, array params")
        << QByteArray(R"({"jsonrpc":"2.0","id":"a","method":"X.Y","params":[1,2]})") << K::Request
        << 0 << QJsonValue("a");
    QTest::newRow("null id is a request") << QByteArray(R"({"jsonrpc":"2.0","id":null,"method":"X.Y"})")
                                          << K::Request << 0 << null;
    QTest::newRow("notification") << QByteArray(R"({"jsonrpc":"2.0","method":"X.Y","params":{}})")
                                  << K::Notification << 0 << null;
    QTest::newRow("typed with CR and spaces") << QByteArray("  {\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"X.Y\"} \r")
                                              << K::Request << 0 << QJsonValue(2);
    QTest::newRow("blank") << QByteArray(" \t\r") << K::Empty << 0 << null;
    QTest::newRow("not JSON") << QByteArray(R"({"jsonrpc":"2.0","id":1,"method":)") << K::Invalid
                              << int(RpcCode::ParseError) << null;
    QTest::newRow("bad UTF-8") << QByteArray("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"\xff\xfe\"}")
                               << K::Invalid << int(RpcCode::ParseError) << null;
    QTest::newRow("batch refused") << QByteArray(R"([{"jsonrpc":"2.0","id":1,"method":"X.Y"}])")
                                   << K::Invalid << int(RpcCode::InvalidRequest) << null;
    QTest::newRow("a number") << QByteArray("42") << K::Invalid << int(RpcCode::InvalidRequest) << null;
    QTest::newRow("a string") << QByteArray("\"Engine.Ping\"") << K::Invalid << int(RpcCode::InvalidRequest) << null;
    QTest::newRow("no version, id kept") << QByteArray(R"({"id":7,"method":"X.Y"})") << K::Invalid
                                         << int(RpcCode::InvalidRequest) << QJsonValue(7);
    QTest::newRow("version 1.0") << QByteArray(R"({"jsonrpc":"1.0","id":7,"method":"X.Y"})")
                                 << K::Invalid << int(RpcCode::InvalidRequest) << QJsonValue(7);
    QTest::newRow("method not a string") << QByteArray(R"({"jsonrpc":"2.0","id":3,"method":5})")
                                         << K::Invalid << int(RpcCode::InvalidRequest) << QJsonValue(3);
    QTest::newRow("empty method") << QByteArray(R"({"jsonrpc":"2.0","id":3,"method":""})") << K::Invalid
                                  << int(RpcCode::InvalidRequest) << QJsonValue(3);
    QTest::newRow("object id") << QByteArray(R"({"jsonrpc":"2.0","id":{},"method":"X.Y"})") << K::Invalid
                               << int(RpcCode::InvalidRequest) << null;
    QTest::newRow("scalar params") << QByteArray(R"({"jsonrpc":"2.0","id":4,"method":"X.Y","params":1})")
                                   << K::Invalid << int(RpcCode::InvalidRequest) << QJsonValue(4);
    QTest::newRow("response") << QByteArray(R"({"jsonrpc":"2.0","id":9,"result":{"a":1}})")
                              << K::Response << 0 << QJsonValue(9);
}

void TestMessage::parse()
{
    QFETCH(QByteArray, line);
    QFETCH(RpcMessage::Kind, kind);
    QFETCH(int, code);
    QFETCH(QJsonValue, id);
    const RpcMessage m = rpcParseLine(line);
    QCOMPARE(m.kind, kind);
    if (kind == RpcMessage::Kind::Invalid) {
        QCOMPARE(m.problem.code, code);
        QVERIFY(!m.problem.message.isEmpty());
    }
    if (kind != RpcMessage::Kind::Empty && kind != RpcMessage::Kind::Notification)
        QCOMPARE(m.id, id);
    if (kind == RpcMessage::Kind::Request || kind == RpcMessage::Kind::Notification)
        QVERIFY(m.params.isNull() || m.params.isObject() || m.params.isArray());
}

void TestMessage::responseRoundTrip()
{
    // An application error keeps its code, its Chinese text and its data.
    const RpcError error{1001, QStringLiteral("音乐文件不存在：上课铃.mp3"),
                         QJsonObject{{"file", QStringLiteral("音乐/上课铃.mp3")}}};
    const QByteArray line = rpcResponseLine(QJsonValue("x"), error);
    QVERIFY(line.endsWith('\n'));
    QCOMPARE(line.count('\n'), 1);
    const RpcMessage back = rpcParseLine(line.chopped(1));
    QCOMPARE(back.kind, RpcMessage::Kind::Response);
    QCOMPARE(back.id, QJsonValue("x"));
    QVERIFY(back.result.isError());
    QCOMPARE(back.result.error().code, 1001);
    QCOMPARE(back.result.error().message, error.message);
    QCOMPARE(back.result.error().data, error.data);

    // A result holding line ends stays on one line.
    const QByteArray multi = rpcResponseLine(1, QJsonValue(QStringLiteral("第一行\n第二行")));
    QCOMPARE(multi.count('\n'), 1);
    QCOMPARE(rpcParseLine(multi.chopped(1)).result.value().toString(), QStringLiteral("第一行\n第二行"));
    // Absent params are left out of the request rather than sent as null.
    QVERIFY(!rpcRequestLine(1, "A.B", QJsonValue()).contains("params"));
}

void TestMessage::malformedErrorObject()
{
    const RpcMessage m = rpcParseLine(R"({"jsonrpc":"2.0","id":1,"error":{"code":"x"}})");
    QCOMPARE(m.kind, RpcMessage::Kind::Response);
    QVERIFY(m.result.isError());
    QCOMPARE(m.result.error().code, RpcCode::InternalError);
}

void TestMessage::lineReaderSplitsAndJoins()
{
    RpcLineReader reader(100);
    QByteArray line;
    // Pieces of one line, then two lines and the start of a third in one read.
    for (const char c : QByteArray("{\"a\":")) {
        reader.append(QByteArray(1, c));
        QVERIFY(!reader.takeLine(&line));
    }
    reader.append("1}\r\nsecond\nthi");
    QVERIFY(reader.takeLine(&line));
    QCOMPARE(line, QByteArray("{\"a\":1}"));
    QVERIFY(reader.takeLine(&line));
    QCOMPARE(line, QByteArray("second"));
    QVERIFY(!reader.takeLine(&line));
    QCOMPARE(reader.buffered(), 3);
    reader.append("rd\n\n");
    QVERIFY(reader.takeLine(&line));
    QCOMPARE(line, QByteArray("third"));
    QVERIFY(reader.takeLine(&line));
    QCOMPARE(line, QByteArray());
    QVERIFY(!reader.takeLine(&line));
    QCOMPARE(reader.buffered(), 0);
    QVERIFY(!reader.overflowed());
}

void TestMessage::lineReaderBound_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("overflows");
    QTest::newRow("exactly the bound") << QByteArray(10, 'x') + '\n' << false;
    QTest::newRow("one over, ended") << QByteArray(11, 'x') + '\n' << true;
    QTest::newRow("one over, no end yet") << QByteArray(11, 'x') << true;
    QTest::newRow("short lines adding up") << QByteArray("12345\n12345\n12345\n") << false;
    QTest::newRow("a long line after a short one") << QByteArray("ok\n") + QByteArray(20, 'y') << true;
}

void TestMessage::lineReaderBound()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, overflows);
    RpcLineReader reader(10);
    reader.append(bytes);
    QByteArray line;
    while (reader.takeLine(&line))
        QVERIFY(line.size() <= 10);
    QCOMPARE(reader.overflowed(), overflows);
    if (overflows) {
        // Nothing more comes out of a reader that overflowed.
        reader.append("\nok\n");
        QVERIFY(!reader.takeLine(&line));
        QCOMPARE(reader.buffered(), 0);
    }
}

QTEST_GUILESS_MAIN(TestMessage)
#include "tst_message.moc"
