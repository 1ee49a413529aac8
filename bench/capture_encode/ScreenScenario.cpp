#include "ScreenScenario.h"

#include <QPainter>
#include <QRandomGenerator>
#include <chrono>

namespace {

constexpr auto paintEvery = std::chrono::milliseconds(40);
const QRgb paper = qRgb(250, 250, 245);
const QRgb ink = qRgb(30, 30, 40);

// Lines of greeked text: dark bars of word widths, as a slide or an editor shows them.
void greek(QPainter &painter, QRandomGenerator &random, const QRect &block, int lineHeight)
{
    for (int y = block.top(); y + lineHeight <= block.bottom(); y += lineHeight) {
        int x = block.left();
        const int end = block.left() + int(random.bounded(block.width() / 2, block.width()));
        while (x < end) {
            const int word = 20 + int(random.bounded(90));
            painter.fillRect(x, y, std::min(word, end - x), lineHeight / 2, QColor(ink));
            x += word + 12;
        }
    }
}

} // namespace

const char *ScreenScenario::name(Kind kind)
{
    switch (kind) {
    case Kind::StillSlide:
        return "still slide";
    case Kind::SlideChanges:
        return "slide every 10 s";
    case Kind::Typing:
        return "typing";
    case Kind::Scrolling:
        return "scrolling page";
    case Kind::Motion:
        return "full-screen motion";
    }
    return "";
}

bool ScreenScenario::open(const QString &display, QSize screen, QString *error)
{
    if (!m_window.open(display, QRect(QPoint(), screen), error))
        return false;
    m_texture = QImage(screen * 2, QImage::Format_RGB32);
    m_texture.fill(paper);
    QRandomGenerator random(5);
    QPainter painter(&m_texture);
    for (int i = 0; i < 400; ++i) {
        const QColor colour = QColor::fromRgb(random.generate() | 0xff000000);
        painter.fillRect(int(random.bounded(m_texture.width())),
                         int(random.bounded(m_texture.height())), 10 + int(random.bounded(80)),
                         8 + int(random.bounded(40)), colour);
    }
    greek(painter, random, m_texture.rect(), 22);
    return true;
}

void ScreenScenario::start(Kind kind)
{
    stop();
    slide(0);
    m_stop = false;
    m_thread = std::thread(&ScreenScenario::run, this, kind);
}

void ScreenScenario::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void ScreenScenario::slide(int number)
{
    QImage image(m_window.rect().size(), QImage::Format_RGB32);
    image.fill(paper);
    QRandomGenerator random(quint32(number + 1));
    QPainter painter(&image);
    const int w = image.width();
    const int h = image.height();
    painter.fillRect(0, 0, w, h / 8, QColor::fromHsv(number * 67 % 360, 160, 150));
    greek(painter, random, QRect(w / 12, h / 5, w / 2, h * 2 / 3), h / 18);
    // A bar chart on the right.
    for (int bar = 0; bar < 5; ++bar) {
        const int height = int(random.bounded(h / 10, h / 2));
        painter.fillRect(w * 2 / 3 + bar * w / 20, h * 5 / 6 - height, w / 30, height,
                         QColor::fromHsv(bar * 50, 200, 200));
    }
    painter.end();
    m_window.paint(image);
}

void ScreenScenario::type()
{
    // An editor page: a character at the caret, the next line after 60, a blank page after 20.
    const QSize glyph(11, 18);
    const QRect page =
        m_window.rect().adjusted(120, 120, -120, -120).translated(-m_window.rect().topLeft());
    QRandomGenerator random(3);
    for (int n = 0; !m_stop; ++n) {
        const int column = n % 60;
        const int line = n / 60 % 20;
        if (column == 0 && line == 0)
            m_window.fill(paper, page);
        const QRect at(page.left() + column * (glyph.width() + 2),
                       page.top() + line * (glyph.height() + 8), glyph.width(), glyph.height());
        // A space now and then, as words have.
        if (random.bounded(6) != 0)
            m_window.fill(ink, at);
        std::this_thread::sleep_for(std::chrono::milliseconds(80 + random.bounded(90)));
    }
}

void ScreenScenario::shift(QPoint step)
{
    const QSize size = m_window.rect().size();
    for (int n = 0; !m_stop; ++n) {
        const QPoint at((n * step.x()) % size.width(), (n * step.y()) % size.height());
        m_window.paint(m_texture.copy(QRect(at, size)));
        std::this_thread::sleep_for(paintEvery);
    }
}

void ScreenScenario::run(Kind kind)
{
    using Clock = std::chrono::steady_clock;
    switch (kind) {
    case Kind::StillSlide:
        return;
    case Kind::SlideChanges: {
        auto next = Clock::now() + std::chrono::seconds(2);
        for (int number = 1; !m_stop; std::this_thread::sleep_for(paintEvery)) {
            if (Clock::now() < next)
                continue;
            slide(number++);
            next += std::chrono::seconds(10);
        }
        return;
    }
    case Kind::Typing:
        type();
        return;
    case Kind::Scrolling:
        shift(QPoint(0, 12));
        return;
    case Kind::Motion:
        shift(QPoint(6, 3));
        return;
    }
}
