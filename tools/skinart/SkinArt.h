#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <vector>

namespace zv::art {

// One file of the program's pictures, its path relative to the resources folder.
struct ArtFile {
    QString Path;
    QByteArray Bytes;
};

// Draws every picture of the program and its window data: the same bytes on every run.
std::vector<ArtFile> RenderArtwork();

// A sheet of everything, the main window put together, at twice the size: to look at the pictures.
QImage Preview();

// Writes RenderArtwork() under `dir`, creating sub-folders; returns false with a message on failure.
bool WriteArtwork(const QString& dir, QString* error);

} // namespace zv::art
