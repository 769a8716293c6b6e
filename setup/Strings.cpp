#include "Strings.h"
#include "TextConv.h"

unsigned char CurrentLanguage = 0;

namespace {
constexpr int kLanguages = 1;

// Texts 83 to 96 and 104 to 114; the page titles 97 to 103 are apart.
const char* const kTexts[kLanguages][kLastText - kFirstText + 1] = {{
    "fr",
    "Français",
    "Traitement de texte Norvanta",
    "Ce programme va installer %s (version 4.4.6.1%s) sur votre ordinateur.",
    "J'&accepte l'Accord de licence ci-dessus dans son intégralité",
    "Installer une copie &portable",
    "Traitement de texte Norvanta est maintenant prêt à être installé.\r\rCliquez sur \"Suite\" pour "
    "commencer "
    "l'installation. Cliquez sur \"Retour\" pour revoir ou modifier les options de l'installation.",
    "Installer pour &tous les utilisateurs de cet ordinateur",
    "Créer un raccourci &Bureau",
    "%s 4.4.6.1%s a été installé avec succès sur votre ordinateur.\r\rCliquez sur Terminer pour quitter ce "
    "programme d'installation.",
    "&Lancer Traitement de texte Norvanta tout de suite",
    "Traitement de texte compact, rapide, puissant, et par dessus tout pratique",
    "Traitement de texte Norvanta (Version Light)",
    "Installation du traitement de texte Norvanta (Version Light)",
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr, // page titles
    "L'installation de ce programme est liée à l'acceptation de l'ensemble des termes du Contrat de Licence "
    "du "
    "traitement de texte Norvanta.",
    "Veuillez fermer tous les exemplaires du traitement de texte Norvanta actuellement ouverts\ravant de "
    "cliquer "
    "sur le bouton \"OK\" ci-dessous.",
    "L'installation n'est pas terminée !\r\rPour poursuivre l'installation maintenant, cliquez sur "
    "\"Non\".\r\rPour "
    "interrompre l'installation, cliquez sur \"Oui\".",
    "https://www.example.org/norvanta/aide/copie-portable.html",
    "Une copie portable ne peut pas être installée dans ce dossier.",
    "Impossible de créer le fichier \"%s\".\rCe fichier est peut-être actuellement utilisé par une autre "
    "application.\r\rVeuillez vous assurer que le processus d'installation du traitement de texte Norvanta "
    "n'est "
    "pas bloqué par votre logiciel de sécurité (pare-feu ou antivirus).",
    "< &Retour",
    "&Suite >",
    "&Terminer",
    "Annuler",
    "Parcourir...",
}};

const char* const kPageTitles[kLanguages][kPageCount] = {{
    "Merci de faire confiance à Norvanta",
    "Accord de Licence",
    "Choix du dossier d'installation",
    "L'installation peut commencer",
    "Installation",
    "Installation terminée",
    "",
}};
} // namespace

const char* PageTitle(int page) {
    if (page < 0 || page >= kPageCount) return "";
    return kPageTitles[CurrentLanguage][page];
}

const char* GetText(int n) {
    if (n < kFirstText || n > kLastText) return "";
    if (n >= txtPageTitle0 && n < txtPageTitle0 + kPageCount) return PageTitle(n - txtPageTitle0);
    return kTexts[CurrentLanguage][n - kFirstText];
}

std::wstring GetTextW(int n) {
    return Utf8ToUtf16(GetText(n));
}

std::string FormatText(const std::string& format, std::initializer_list<std::string> args) {
    std::string out;
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size() && out.size() < kMaxFormatted; ++i) {
        char c = format[i];
        if (c == '%' && i + 1 < format.size()) {
            char k = format[i + 1];
            if (k == '%') {
                out.push_back('%');
                ++i;
                continue;
            }
            if (k == 's') {
                if (next != args.end()) out += *next++;
                ++i;
                continue;
            }
        }
        out.push_back(c);
    }
    if (out.size() > kMaxFormatted) out.resize(kMaxFormatted);
    return out;
}

std::string FormattedProductText(int n) {
    return FormatText(GetText(n), {GetText(txtProductEdition), ""});
}
