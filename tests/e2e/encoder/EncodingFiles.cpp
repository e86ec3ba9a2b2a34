#include "EncodingFiles.h"

#include <QDir>
#include <QFile>

namespace zv::test {

QString WriteEncodingFile(const QString& folder, const QString& user, const QString& inputSource,
    const QString& publishServer, const QString& sourcePassword, int bitrateCode, const QString& broadcast)
{
    const int rate = bitrateCode == 32000 ? 32000 : 48000;
    const QString xml = QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<Encoding Version="1">
  <Description Title="Rádio de Teste" Description="Transmissão ao vivo"/>
  <SourceGroups><SourceGroup Name="AoVivo"><Source Type="Audio" InputSource="%1"/></SourceGroup></SourceGroups>
  <Broadcast PublishServer="%2" PublishingPoint="%3" PublishPort="8000" SourceUser="source" SourcePassword="%4" Genre="Variedades" %7/>
  <Profile><![CDATA[<profile version="1" codec="mp3" channels="2"><audio bitrate="%5" nSamplesPerSec="%6"/></profile>]]></Profile>
</Encoding>
)")
                            .arg(inputSource.toHtmlEscaped(), publishServer, user, sourcePassword)
                            .arg(bitrateCode)
                            .arg(rate)
                            .arg(broadcast);
    const QString path = QDir(folder).filePath(user + QStringLiteral(".xml"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(xml.toUtf8());
    }
    return path;
}

} // namespace zv::test
