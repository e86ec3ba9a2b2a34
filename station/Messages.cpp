#include "station/Messages.h"

#include <QHash>

QString BuiltInCaption(const QString& labelName)
{
    static const QHash<QString, QString> captions {
        { QStringLiteral("lblConectando"), QStringLiteral("Conectando...") },
        { QStringLiteral("lblConectado"), QStringLiteral("Conectado") },
        { QStringLiteral("lblDesconectando"), QStringLiteral("Desconectando...") },
        { QStringLiteral("lblDesconectado"), QStringLiteral("Desconectado") },
        { QStringLiteral("lblFoiExecutadoEncoder"), QStringLiteral("Foi executado o Encoder") },
        { QStringLiteral("lblCodificadorNaoEncontrado"), QStringLiteral("Codificador n\u00e3o encontrado!") },
        { QStringLiteral("lblNaoFoiEncontradoCodificador"),
            QStringLiteral("N\u00e3o foi encontrado o codificador") },
        { QStringLiteral("lblArquivoCodificacaoNaoEncontrado"),
            QStringLiteral("Arquivo de codifica\u00e7\u00e3o n\u00e3o encontrado!") },
        { QStringLiteral("lblNaoFoiEncontradoArquivoCodificacao"),
            QStringLiteral("N\u00e3o foi encontrado o arquivo de codifica\u00e7\u00e3o") },
        { QStringLiteral("lblArquivosConfiguracaoPadraoNaoExistente"),
            QStringLiteral("Arquivos de configura\u00e7\u00e3o Padr\u00e3o n\u00e3o existente!") },
        // The settings window's.
        { QStringLiteral("lblNecessarioInformarUsuario"),
            QStringLiteral("\u00c9 necess\u00e1rio informar o Usu\u00e1rio!") },
        { QStringLiteral("lblNecessarioInformarSenha"),
            QStringLiteral("\u00c9 necess\u00e1rio informar a Senha!") },
        { QStringLiteral("lblNecessarioInformarIdioma"),
            QStringLiteral("\u00c9 necess\u00e1rio informar o Idioma!") },
        { QStringLiteral("lblControleGravacaoNaoEncontrado"),
            QStringLiteral(
                "N\u00e3o foi encontrado um controle de grava\u00e7\u00e3o. Instale o pavucontrol, ou o "
                "alsamixer (alsa-utils) e um emulador de terminal.") },
    };
    return captions.value(labelName);
}
