#pragma once
// An error the general error box shows: the handler ends at the failing step.
// Lives beside the player so that audio/ needs nothing from the folders that
// use it; schedule/seams.h includes it for everyone else.
#include <QString>
#include <stdexcept>

class AppError : public std::runtime_error {
public:
    explicit AppError(const QString &text)
        : std::runtime_error(text.toStdString()), m_text(text) {}
    QString text() const { return m_text; }

private:
    QString m_text;
};
