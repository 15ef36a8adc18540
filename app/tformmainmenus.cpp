// The 系统 menu's windows beyond the bell list (ring history, school
// calendar, sound outputs) and the lowering of the broadcast under a bell:
// the frame's wiring for them, apart from the frame itself.
#include "tformmain.h"

#include "calendarcommands.h"
#include "calendardialog.h"
#include "ducking.h"
#include "historydialog.h"
#include "outputdialog.h"
#include "ringengine.h"
#include "ringhistory.h"
#include "settings.h"
#include "soundoutputs.h"

#include <QAction>
#include <QSignalBlocker>

void TFormMain::NJiLuClick()
{
    guarded([this] {
        // Made on first use: the start of the program does not wait for it.
        if (!m_historyDialog) {
            m_historyReport = std::make_unique<HistoryReport>(*m_history, *m_ctx.messages,
                                                              *m_ctx.dialogs);
            m_historyDialog = new HistoryDialog(*m_historyReport, *m_ctx.messages, this);
        }
        m_historyDialog->showDay(m_ctx.clock->now().date());
        m_historyDialog->exec();
    });
}

void TFormMain::NCalendarClick()
{
    guarded([this] {
        CalendarDialog dialog(*m_calendar, *m_calendarCommands, m_ctx.clock->now().date(), this);
        dialog.exec();
    });
}
void TFormMain::NOutputClick()
{
    guarded([this] {
        OutputChoice choice(*m_settings);
        OutputDialog dialog(choice, m_ctx.makePlayer, *m_ctx.messages, this);
        if (dialog.exec() != QDialog::Accepted)
            return;
        applyOutputs();
    });
}

void TFormMain::applyOutputs()
{
    // Each player takes its output with its next file: a bell opened ahead
    // rings where it was opened.
    const SoundOutputs outputs(*m_settings);
    for (AudioPlayer *p : {m_player.get(), m_sparePlayer.get(), m_editorPlayer.get()})
        p->setOutputDevice(outputs.device(SoundOutputs::Bells));
    m_adhocPlayer->setOutputDevice(outputs.device(SoundOutputs::Broadcast));
}

void TFormMain::setUpDucking()
{
    m_ducking = new Ducking(*m_adhocPlayer, m_settings.get(), this);
    m_bellWatch = new BellSoundWatch(*m_player, this);
    // The engine says when a bell starts and ends, on either of its players;
    // the watch covers what plays outside it (test playback, a double-click).
    connect(m_engine.get(), &RingEngine::rang, m_ducking, [this] { m_ducking->bellStarted(); });
    connect(m_engine.get(), &RingEngine::bellEnded, m_ducking, [this] { m_ducking->bellEnded(); });
    connect(m_bellWatch, &BellSoundWatch::started, m_ducking, &Ducking::bellStarted);
    connect(m_bellWatch, &BellSoundWatch::ended, m_ducking, &Ducking::bellEnded);
    NDuck->setChecked(m_ducking->enabled());
    connect(NDuck, &QAction::toggled, this, [this](bool on) {
        guarded([this, on] { m_ducking->setEnabled(on); });
        const QSignalBlocker block(NDuck); // not kept: the item shows what holds
        NDuck->setChecked(m_ducking->enabled());
    });
}
