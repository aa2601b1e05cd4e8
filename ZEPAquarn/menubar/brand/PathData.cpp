#include "menubar/brand/PathData.h"

#include <QList>
#include <QString>

#include <charconv>
#include <string>

namespace zq {

namespace {

class PathDataReader {
public:
    QPainterPath read(QStringView data)
    {
        for (const QChar c : data) {
            const char16_t u = c.unicode();
            if (u >= '0' && u <= '9') {
                m_number += char(u);
            } else if (u == '.') {
                if (m_number.find('.') != std::string::npos)
                    endNumber();
                m_number += '.';
            } else if (u == '-' || u == '+') {
                if (!m_number.empty() && (m_number.back() == 'e' || m_number.back() == 'E')) {
                    m_number += char(u);
                } else {
                    endNumber();
                    m_number = char(u);
                }
            } else if (u == 'e' || u == 'E') {
                m_number += char(u);
            } else if (c.isSpace() || u == ',') {
                endNumber();
            } else if (c.isLetter()) {
                endNumber();
                runCommand();
                m_command = c;
            }
        }
        endNumber();
        runCommand();
        return m_path;
    }

private:
    void endNumber()
    {
        if (m_number.empty())
            return;
        // The whole text must be one number; from_chars takes no leading "+", a literal may.
        const char *begin = m_number.data();
        const char *end = begin + m_number.size();
        if (*begin == '+')
            ++begin;
        double value = 0;
        const auto [stop, error] = std::from_chars(begin, end, value);
        if (error == std::errc() && stop == end && begin != end)
            m_numbers.append(value);
        m_number.clear();
    }

    QPointF point(qsizetype at, bool relative, QPointF origin) const
    {
        const double x = m_numbers.value(at, 0.0);
        const double y = m_numbers.value(at + 1, 0.0);
        return relative ? origin + QPointF(x, y) : QPointF(x, y);
    }

    void runCommand()
    {
        const bool relative = m_command.isLower();
        const char16_t command = m_command.toUpper().unicode();
        if (m_numbers.isEmpty()) {
            if (command == 'Z')
                close();
            return;
        }
        switch (command) {
        case 'M':
            for (qsizetype i = 0; i < m_numbers.size(); i += 2) {
                const QPointF to = point(i, relative, m_current);
                if (i == 0) {
                    m_path.moveTo(to);
                    m_start = to;
                } else {
                    m_path.lineTo(to);
                }
                m_current = to;
            }
            break;
        case 'L':
            for (qsizetype i = 0; i < m_numbers.size(); i += 2) {
                m_current = point(i, relative, m_current);
                m_path.lineTo(m_current);
            }
            break;
        case 'H':
            for (const double x : m_numbers) {
                m_current.setX(relative ? m_current.x() + x : x);
                m_path.lineTo(m_current);
            }
            break;
        case 'V':
            for (const double y : m_numbers) {
                m_current.setY(relative ? m_current.y() + y : y);
                m_path.lineTo(m_current);
            }
            break;
        case 'C':
            for (qsizetype i = 0; i + 6 <= m_numbers.size(); i += 6) {
                const QPointF origin = m_current;
                const QPointF c1 = point(i, relative, origin);
                const QPointF c2 = point(i + 2, relative, origin);
                m_current = point(i + 4, relative, origin);
                m_path.cubicTo(c1, c2, m_current);
            }
            break;
        case 'Z':
            close();
            break;
        default:
            break;
        }
        m_numbers.clear();
    }

    void close()
    {
        m_path.closeSubpath();
        m_current = m_start;
    }

    QPainterPath m_path;
    QPointF m_current;
    QPointF m_start;
    QChar m_command = QLatin1Char('M');
    QList<double> m_numbers;
    std::string m_number;
};

} // namespace

QPainterPath parsePathData(QStringView data)
{
    return PathDataReader().read(data);
}

} // namespace zq
