#pragma once
// The bell entry editor "编辑铃声内容": one entry is entered or changed here.
// It is created once and reused by every add and change; closing only hides
// it. An add starts from cleared fields (clearedit); the chooser's last file
// lasts from one showing to the next.
#include "audioplayer.h"
#include "bellboard.h"
#include "bellstore.h"
#include "entryeditor.h"
#include "zonestore.h"
#include "seams.h"

#include <QDialog>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TFormEditDaLing : public QDialog {
    Q_OBJECT
public:
    // player is the dialog's own MediaPlayer1: it only opens a file to
    // measure it and never plays.
    TFormEditDaLing(BellStore &store, BellBoard &board, AudioPlayer &player, Messages &messages,
                    FileDialogs &dialogs, QWidget *parent = nullptr);
    ~TFormEditDaLing() override;

    // The one record the dialog writes, held by the editor until posted.
    using RecordState = EntryEditor::RecordState;
    RecordState recordState() const { return m_editor.recordState(); }
    const std::optional<BellEntry> &record() const { return m_editor.record(); }
    EntryEditor &editor() { return m_editor; }

    // For the list commands. A new entry: no row, record in insert state;
    // store failures throw.
    void beginInsert();
    // Locates the entry with that id text (the empty text locates none), in
    // browse state. Store failures throw.
    const std::optional<BellEntry> &locate(const QString &idText);
    // Overwrites every field from the located record; with none located the
    // time reads "00" "00" "00", the rest is empty and every day is up. "全选"
    // is set up without running its click action.
    void fillFromRecord();
    // Deletes the entry with that id text at once; throws StoreError when
    // no row has it.
    void deleteRecord(const QString &idText);

    // One check box per zone, below 备注; none (and the dialog's own size)
    // when the school has no zones.
    void setZones(const QList<Zone> &zones);

    // Empties the seven edits, sets "全选" and every weekday up and unticks
    // every zone: an add never inherits the previous entry's choices.
    void clearedit();

    // The path the chooser offers next (the last file chosen).
    QString lastChosenPath() const { return m_lastChosen; }

    // Every close (save, "关 闭", close box, Escape) runs FormClose first; it
    // may keep the dialog open while a time field cannot be read.
    void done(int result) override;

    // The captions 时间 星期 音乐 名称 时长 备注 (Label1–Label6) and the two
    // colons between hour, minute and second (Label7, Label8).
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8;
    // 音乐 is EditYinYue, 时长 EditTimeLong, 备注 EditBeiZhu.
    QLineEdit *EditHour, *EditMin, *EditSec, *EditName, *EditYinYue, *EditTimeLong, *EditBeiZhu;
    // The weekday toggles 日 一 … 六 (S0 is Sunday) and S, "全选" for all seven.
    QPushButton *S0, *S1, *S2, *S3, *S4, *S5, *S6, *S;
    // "…" opens the file chooser; Button1 is "保 存", Button2 "关 闭".
    QPushButton *SpeedButton8, *Button1, *Button2;
    QList<QCheckBox *> zoneBoxes; // each with its zone's id as property "zone"

public slots:
    void Button1Click();      // 保 存
    void Button2Click();      // 关 闭
    void SClick();            // 全选: every weekday up or down
    void SpeedButton8Click(); // "…": choose the music file

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    // Escape does not close the dialog (QDialog's default): it closes by
    // its buttons, its close box and its window menu only.
    void keyPressEvent(QKeyEvent *event) override;

private:
    QLabel *m_zoneLabel = nullptr;
    struct TimeField {
        QLineEdit *edit;
        qint64 bound;
        QString tooLarge; // "不能大于…"
        QString required; // "必须输入…"
        QString what;     // the field's name in the digits message
    };
    // Returns false to keep the dialog open.
    bool FormClose();
    bool FormKeyPress(QKeyEvent *key);
    bool EditHourKeyPress(QKeyEvent *key);
    void fieldExit(const TimeField &field);
    void onFocusChanged(QWidget *old, QWidget *now);
    const TimeField *timeField(const QObject *o) const;
    // The field's digits as a number; throws AppError with a clear message
    // when they do not fit in 64 bits.
    qint64 fieldValue(const TimeField &field) const;
    std::array<QPushButton *, 7> days() const { return {S0, S1, S2, S3, S4, S5, S6}; }
    void buildControls();
    EntryFields fields() const;
    void applyChoice(const EntryEditor::Choice &choice);

    BellStore &m_store;
    BellBoard &m_board;
    Messages &m_messages;
    FileDialogs &m_dialogs;
    EntryEditor m_editor;
    TimeField m_fields[3];
    QString m_lastChosen;
    bool m_inExit = false;
};
