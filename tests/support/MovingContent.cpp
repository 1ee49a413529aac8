#include "support/MovingContent.h"

#include <QPainter>
#include <QRandomGenerator>

bool MovingContent::start(const QString &display, const QRect &rect, QString *error)
{
    if (!m_window.open(display, rect, error))
        return false;
    // Twice the window's size, so that any shifted cut-out is filled.
    m_texture = QImage(rect.size() * 2, QImage::Format_RGB32);
    QRandomGenerator random(7);
    QPainter painter(&m_texture);
    QLinearGradient gradient(0, 0, m_texture.width(), m_texture.height());
    gradient.setColorAt(0, QColor(30, 60, 160));
    gradient.setColorAt(1, QColor(220, 180, 40));
    painter.fillRect(m_texture.rect(), gradient);
    for (int i = 0; i < 300; ++i) {
        const QColor colour = QColor::fromRgb(random.generate() | 0xff000000);
        const int size = 8 + int(random.bounded(56));
        painter.fillRect(int(random.bounded(m_texture.width())),
                         int(random.bounded(m_texture.height())), size, size / 2 + 4, colour);
    }
    // Thin lines, like text, are what a presenter's screen is full of.
    painter.setPen(QPen(Qt::white, 1));
    for (int y = 0; y < m_texture.height(); y += 12)
        painter.drawLine(0, y, m_texture.width(), y + int(random.bounded(40)));
    painter.end();
    m_stop = false;
    m_thread = std::thread(&MovingContent::run, this);
    return true;
}

void MovingContent::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void MovingContent::run()
{
    const QSize size = m_window.rect().size();
    for (int step = 0; !m_stop; ++step) {
        const int x = (step * 6) % size.width();
        const int y = (step * 3) % size.height();
        m_window.paint(m_texture.copy(x, y, size.width(), size.height()));
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
}
