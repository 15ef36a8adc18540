// The 系统 menu's windows beyond the bell list (ring history, school
// calendar, sound outputs) and the menu item that lowers the broadcast
// under a bell: the frame's wiring for them, apart from the frame itself.
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
            m_historyDialog = new HistoryDialog(m_app->historyReport(), m_app->messages(), this);
            // Bells that ring while it is open appear in it.
            history().onWritten = [this] {
                if (m_historyDialog->isVisible())
                    m_historyDialog->refresh();
            };
        }
        m_historyDialog->showDay(m_app->clock().now().date());
        m_historyDialog->exec();
    });
}

void TFormMain::NCalendarClick()
{
    guarded([this] {
        CalendarDialog dialog(calendar(), m_app->calendarCommands(), m_app->clock().now().date(), this);
        dialog.exec();
        showTimetableNote(); // it may have saved, switched or renamed one
    });
}
void TFormMain::NOutputClick()
{
    guarded([this] {
        OutputChoice choice(m_app->settings());
        OutputDialog dialog(choice, m_app->context().makePlayer, m_app->messages(), this);
        if (dialog.exec() != QDialog::Accepted)
            return;
        m_app->applyOutputs();
    });
}

void TFormMain::setUpDucking()
{
    NDuck->setChecked(ducking().enabled());
    connect(NDuck, &QAction::toggled, this, [this](bool on) {
        guarded([this, on] { ducking().setEnabled(on); });
        const QSignalBlocker block(NDuck); // not kept: the item shows what holds
        NDuck->setChecked(ducking().enabled());
    });
}
