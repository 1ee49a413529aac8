#include "app/SourcePicker.h"

#include "capture/gui/WCapture.h"
#include "session/StudioSession.h"

#include <QComboBox>
#include <QDebug>
#include <QGuiApplication>

namespace {

CaptureSources::Item currentItem(const QComboBox *combo)
{
    return {combo->currentText(), combo->currentData().toString()};
}

void addItems(QComboBox *combo, const QVector<CaptureSources::Item> &items)
{
    for (const CaptureSources::Item &item : items)
        combo->addItem(item.text, item.data.isEmpty() ? QVariant() : QVariant(item.data));
}

} // namespace

SourcePicker::SourcePicker(QComboBox *video, QComboBox *audio, WCapture *areaSelector,
                           StudioSession *session)
    : m_video(video), m_audio(audio), m_areaSelector(areaSelector), m_session(session)
{}

void SourcePicker::fill()
{
    fillVideo();
    const QStringList devices = m_session->audioDevices();
    qDebug() << "AUDIO:" << devices;
    m_audio->clear();
    addItems(m_audio, CaptureSources::audioItems(devices));
}

QVector<CaptureSources::Item> SourcePicker::fillVideo()
{
    const auto items = CaptureSources::videoItems(m_session->videoDevices(),
                                                  int(QGuiApplication::screens().size()));
    m_fillingVideo = true;
    m_video->clear();
    addItems(m_video, items);
    m_fillingVideo = false;
    for (int i = 0; i < m_video->count(); ++i)
        m_video->setItemText(i, CaptureSources::paddedText(m_video->itemText(i), m_video->width()));
    m_shortcuts.bind(m_video);
    return items;
}

void SourcePicker::refillVideo()
{
    const CaptureSources::Item chosen = currentItem(m_video);
    const QVector<CaptureSources::Item> items = fillVideo();
    m_video->setCurrentIndex(CaptureSources::indexAfterRefill(items, chosen));
}

void SourcePicker::restore(QComboBox *combo, int index, int fallback)
{
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : fallback);
}

void SourcePicker::showAreaIfChosen() const
{
    if (!screenAreaChosen())
        return;
    qDebug() << "SELECT CAPTURE SCREEN";
    m_areaSelector->show();
}

void SourcePicker::onVideoChanged()
{
    // The list's own selection while it is cleared and filled is no choice of the presenter's:
    // a live stream keeps its source until the fill is over.
    if (m_fillingVideo)
        return;
    showAreaIfChosen();
    const CaptureSources::Choice chosen = choice();
    m_session->applySources(chosen);
    // Idle as well, so the controller knows the area before Start.
    if (chosen.screenArea && !m_session->isRunning())
        m_session->setCaptureArea(chosen.display, chosen.area);
}

void SourcePicker::onAudioChanged()
{
    qDebug() << "change audio:" << m_audio->currentText();
    m_session->applySources(choice());
}

bool SourcePicker::screenAreaChosen() const
{
    return m_video->currentData().toString() == CaptureSources::kScreenAreaKey;
}

CaptureSources::Choice SourcePicker::choice() const
{
    CaptureSources::Choice chosen =
        CaptureSources::resolve(currentItem(m_video), currentItem(m_audio));
    if (chosen.screenArea) {
        chosen.display = m_areaSelector->screenIndex();
        chosen.area = m_areaSelector->captureArea();
    }
    return chosen;
}
