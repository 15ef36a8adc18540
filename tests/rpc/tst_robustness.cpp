#include <QTest>
class TestRobustness : public QObject {
    Q_OBJECT
};
QTEST_GUILESS_MAIN(TestRobustness)
#include "tst_robustness.moc"
