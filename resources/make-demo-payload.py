#!/usr/bin/env python3
"""Writes the demo payload's document templates and insert collections as small
RTF files under resources/payload/. The files are committed; run this again only
after changing the texts below. All texts are our own, written for the demo."""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "payload")
TEMPLATES = "Modèles de document"
INSERTS = "Collections d'inserts"

# Paragraphs: "# " makes a heading, "> " a right-aligned line, "\t" a tab stop.
DOCS = {
    TEMPLATES: {
        "Lettres": {
            "Lettre personnelle": """> [Ville], le [date]
Cher [Prénom],
Voilà bien longtemps que je voulais t'écrire. Les semaines passent à toute allure depuis notre déménagement, et je n'ai pas encore pris le temps de te raconter notre nouvelle vie.
La maison est plus grande que la précédente, le jardin donne sur un petit bois et les enfants ont déjà trouvé leurs cachettes. Nous t'attendons dès que tu pourras venir.
Je t'embrasse bien fort,
[Signature]""",
            "Lettre de remerciement": """> [Ville], le [date]
Madame, Monsieur,
Je tiens à vous remercier très sincèrement pour l'accueil que vous nous avez réservé lors de notre visite du [date].
Votre disponibilité et la qualité de vos explications ont beaucoup compté dans notre décision. Nous espérons avoir bientôt l'occasion de vous recevoir à notre tour.
Veuillez agréer, Madame, Monsieur, l'expression de notre gratitude.
[Signature]""",
            "Lettre d'invitation": """> [Ville], le [date]
Chers amis,
Nous avons le plaisir de vous inviter à fêter avec nous [l'événement], le [date] à partir de [heure], au [lieu].
Un buffet sera servi dans le jardin ; en cas de pluie, nous nous replierons dans la grange.
Merci de nous faire savoir avant le [date] si vous serez des nôtres.
Avec toute notre amitié,
[Signatures]""",
            "Lettre de félicitations": """> [Ville], le [date]
Chère [Prénom],
C'est avec une grande joie que nous avons appris [la nouvelle]. Toutes nos félicitations !
Ce succès récompense des années d'efforts et de persévérance ; nous sommes très fiers de toi.
Nous lèverons notre verre à ta santé dimanche prochain.
Affectueusement,
[Signature]""",
            "Lettre de condoléances": """> [Ville], le [date]
Chère Madame,
C'est avec une profonde tristesse que nous avons appris le décès de [Prénom Nom].
Nous garderons le souvenir d'une personne généreuse, toujours prête à rendre service. Nos pensées vous accompagnent, ainsi que toute votre famille, dans cette douloureuse épreuve.
Nous vous prions de croire, chère Madame, à l'expression de notre sincère sympathie.
[Signature]""",
        },
        "Courriers administratifs": {
            "Demande d'attestation": """[Prénom Nom]
[Adresse]
[Code postal] [Ville]
> [Organisme]
> [Adresse]
> [Ville], le [date]
Objet : demande d'attestation
Madame, Monsieur,
Je vous serais reconnaissant de bien vouloir m'adresser une attestation de [nature de l'attestation] pour la période du [date] au [date].
Ce document m'est demandé par [organisme] dans le cadre de [démarche].
Je vous prie d'agréer, Madame, Monsieur, mes salutations distinguées.
[Signature]""",
            "Résiliation d'abonnement": """[Prénom Nom]
[Adresse]
Numéro d'abonné : [numéro]
> [Société]
> Service clients
> [Ville], le [date]
Objet : résiliation de mon abonnement
Lettre recommandée avec accusé de réception
Madame, Monsieur,
Par la présente, je vous informe de ma décision de résilier mon abonnement n° [numéro], conformément aux conditions générales de vente, à compter du [date].
Je vous remercie de bien vouloir me confirmer la prise en compte de cette demande et l'arrêt des prélèvements.
Veuillez agréer, Madame, Monsieur, mes salutations distinguées.
[Signature]""",
            "Réclamation": """[Prénom Nom]
[Adresse]
> [Société]
> [Ville], le [date]
Objet : réclamation concernant la commande n° [numéro]
Madame, Monsieur,
Le [date], j'ai commandé sur votre site [article], livré le [date]. À l'ouverture du colis, j'ai constaté que [description du défaut].
Je vous demande donc de procéder, à votre choix, à l'échange de l'article ou à son remboursement, comme le prévoit la garantie légale de conformité.
Dans l'attente de votre réponse, je vous prie d'agréer, Madame, Monsieur, mes salutations distinguées.
[Signature]""",
            "Changement d'adresse": """[Prénom Nom]
Ancienne adresse : [adresse]
Nouvelle adresse : [adresse]
> [Organisme]
> [Ville], le [date]
Objet : changement d'adresse
Madame, Monsieur,
Je vous informe qu'à compter du [date], mon adresse sera la suivante :
\t[Adresse complète]
Je vous remercie de bien vouloir mettre à jour mon dossier (référence [numéro]) et d'y envoyer désormais tout courrier.
Veuillez recevoir, Madame, Monsieur, mes salutations distinguées.
[Signature]""",
            "Demande de congé": """[Prénom Nom]
[Service]
> À l'attention de [Nom du responsable]
> [Ville], le [date]
Objet : demande de congés payés
Madame, Monsieur,
Je souhaite prendre [nombre] jours de congés payés du [date] au [date] inclus, pour une reprise le [date].
J'ai veillé à ce que les dossiers en cours soient suivis pendant mon absence par [collègue].
Je vous remercie de l'attention que vous porterez à ma demande.
[Signature]""",
            "Lettre de démission": """[Prénom Nom]
[Adresse]
> [Société]
> À l'attention de [Nom]
> [Ville], le [date]
Objet : démission
Lettre remise en main propre contre décharge
Madame, Monsieur,
Je vous informe par la présente de ma décision de quitter le poste de [intitulé] que j'occupe depuis le [date].
Mon préavis de [durée] débutera à la date de remise de cette lettre ; mon dernier jour de travail sera donc le [date].
Je vous remercie pour la confiance que vous m'avez accordée durant ces années.
Veuillez agréer, Madame, Monsieur, l'expression de mes salutations distinguées.
[Signature]""",
        },
        "Factures & devis": {
            "Facture": """# FACTURE n° [numéro]
[Raison sociale]
[Adresse] — SIRET [numéro]
> Client : [Nom]
> [Adresse]
Date : [date]\tÉchéance : [date]
Désignation\tQuantité\tPrix unitaire HT\tTotal HT
[Article ou prestation]\t[qté]\t[prix] €\t[total] €
[Article ou prestation]\t[qté]\t[prix] €\t[total] €
Total HT\t\t\t[montant] €
TVA ([taux] %)\t\t\t[montant] €
Total TTC\t\t\t[montant] €
Paiement par virement à réception de facture. Pénalités de retard : trois fois le taux d'intérêt légal ; indemnité forfaitaire pour frais de recouvrement : 40 €.""",
            "Devis": """# DEVIS n° [numéro]
[Raison sociale]
[Adresse]
> Client : [Nom]
> [Adresse]
Date : [date] — Devis valable trente jours
Désignation\tQuantité\tPrix unitaire HT\tTotal HT
[Prestation]\t[qté]\t[prix] €\t[total] €
[Fournitures]\t[qté]\t[prix] €\t[total] €
Total HT\t\t\t[montant] €
TVA ([taux] %)\t\t\t[montant] €
Total TTC\t\t\t[montant] €
Acompte de 30 % à la commande. Bon pour accord, date et signature du client :""",
            "Avoir": """# AVOIR n° [numéro]
[Raison sociale]
> Client : [Nom]
Date : [date]
Cet avoir annule et remplace partiellement la facture n° [numéro] du [date].
Motif : [retour de marchandise, remise commerciale...]
Montant HT\t[montant] €
TVA\t[montant] €
Montant TTC à déduire\t[montant] €""",
            "Relance de paiement": """[Raison sociale]
> [Client]
> [Adresse]
> [Ville], le [date]
Objet : facture n° [numéro] restée impayée
Madame, Monsieur,
Sauf erreur de notre part, la facture n° [numéro] du [date], d'un montant de [montant] €, arrivée à échéance le [date], n'a pas encore été réglée.
Nous vous remercions de bien vouloir procéder à son règlement dans les meilleurs délais. Si votre paiement a été effectué entre-temps, veuillez ne pas tenir compte de ce courrier.
Nous vous prions d'agréer, Madame, Monsieur, nos salutations distinguées.
[Signature]""",
        },
        "Curriculum vitæ": {
            "CV classique": """# [Prénom Nom]
[Adresse] — [Téléphone] — [Courriel]
# Expérience professionnelle
[Années]\t[Poste], [Entreprise], [Ville]
\tMissions principales : [description]
[Années]\t[Poste], [Entreprise], [Ville]
# Formation
[Année]\t[Diplôme], [Établissement]
# Langues et informatique
Anglais : courant — Espagnol : notions
Traitement de texte, tableur, messagerie
# Centres d'intérêt
Randonnée, photographie, vie associative""",
            "CV chronologique": """# [Prénom Nom]
[Titre du poste recherché]
[Téléphone] — [Courriel]
# Parcours
[Année] à aujourd'hui\t[Poste] chez [Entreprise]
[Année] à [Année]\t[Poste] chez [Entreprise]
[Année] à [Année]\t[Poste] chez [Entreprise]
# Compétences
Gestion de projet, relation clientèle, rédaction
# Formation
[Année]\t[Diplôme], [Établissement]""",
            "Lettre de motivation": """[Prénom Nom]
[Adresse]
> [Entreprise]
> À l'attention de [Nom]
> [Ville], le [date]
Objet : candidature au poste de [intitulé]
Madame, Monsieur,
Votre annonce parue le [date] a retenu toute mon attention. Fort d'une expérience de [durée] dans [domaine], je souhaite mettre mes compétences au service de votre équipe.
Rigoureux et curieux, j'ai notamment [réalisation marquante]. Je serais heureux de vous exposer plus en détail mes motivations lors d'un entretien.
Je vous prie d'agréer, Madame, Monsieur, l'expression de mes salutations distinguées.
[Signature]""",
        },
        "Rapports": {
            "Compte rendu de réunion": """# Compte rendu de réunion
Date : [date]\tLieu : [lieu]
Présents : [noms]
Excusés : [noms]
# Ordre du jour
1. Point sur l'avancement du projet
2. Budget du prochain trimestre
3. Questions diverses
# Décisions
[Décision 1]
[Décision 2]
# Actions
[Action]\tResponsable : [nom]\tÉchéance : [date]
Prochaine réunion : [date]""",
            "Rapport d'activité": """# Rapport d'activité [année]
# 1. Résumé
L'année écoulée a été marquée par [faits marquants].
# 2. Activité
[Chiffres clés, projets menés, résultats]
# 3. Perspectives
Pour l'année à venir, nous prévoyons de [objectifs].
# Annexes
[Tableaux, graphiques]""",
            "Note de service": """# NOTE DE SERVICE
De : [Direction]\tÀ : [Destinataires]
Date : [date]\tObjet : [objet]
À compter du [date], [mesure annoncée].
Nous vous remercions de bien vouloir en tenir compte et de relayer cette information auprès de vos équipes.
[Signature]""",
            "Procès-verbal d'assemblée": """# Procès-verbal de l'assemblée générale du [date]
L'an [année], le [date], les membres de l'association [nom] se sont réunis en assemblée générale ordinaire à [lieu], sur convocation du bureau.
Présents ou représentés : [nombre] membres sur [nombre]. Le quorum étant atteint, l'assemblée peut valablement délibérer.
# Première résolution
L'assemblée approuve le rapport moral présenté par le président. Adoptée à l'unanimité.
# Deuxième résolution
L'assemblée approuve les comptes de l'exercice. Adoptée par [nombre] voix pour, [nombre] contre.
L'ordre du jour étant épuisé, la séance est levée à [heure].
Le président\tLe secrétaire""",
        },
        "Divers": {
            "Document vierge": """[Saisissez votre texte ici]""",
            "Recette de cuisine": """# [Nom de la recette]
Pour [nombre] personnes — Préparation : [durée] — Cuisson : [durée]
# Ingrédients
250 g de farine
3 œufs
50 cl de lait
1 pincée de sel
# Préparation
1. Verser la farine dans un saladier et creuser un puits.
2. Ajouter les œufs battus, puis le lait petit à petit en fouettant.
3. Laisser reposer une heure avant la cuisson.""",
            "Invitation à une fête": """# Vous êtes invités !
[Prénom] fête ses [âge] ans
le [date] à [heure]
au [lieu]
Réponse souhaitée avant le [date] au [téléphone]""",
            "Liste de courses": """# Liste de courses
Épicerie :\tpâtes, riz, café, huile d'olive
Frais :\tbeurre, yaourts, fromage
Fruits et légumes :\tpommes, carottes, salade
Maison :\tlessive, éponges""",
        },
    },
    INSERTS: {
        "Formules de politesse": {
            "Salutations distinguées": "Je vous prie d'agréer, Madame, Monsieur, l'expression de mes salutations distinguées.",
            "Sentiments respectueux": "Veuillez agréer, Madame, Monsieur, l'expression de mes sentiments respectueux.",
            "Considération distinguée": "Je vous prie de croire, Madame, Monsieur, à l'assurance de ma considération distinguée.",
            "Meilleures salutations": "Recevez, Madame, Monsieur, mes meilleures salutations.",
            "Très cordialement": "Très cordialement,",
            "Bien à vous": "Bien à vous,",
            "Avec mes remerciements": "Avec mes remerciements anticipés, je vous prie d'agréer mes salutations les meilleures.",
            "Amitiés": "Avec toute mon amitié,",
            "Haute considération": "Je vous prie d'agréer, Monsieur le Maire, l'expression de ma haute considération.",
            "Dévouement": "Veuillez croire, Madame, Monsieur, à mon entier dévouement.",
        },
        "Formules d'appel": {
            "Madame, Monsieur": "Madame, Monsieur,",
            "Cher client": "Cher client, chère cliente,",
            "Monsieur le Maire": "Monsieur le Maire,",
            "Maître": "Maître,",
            "Chers collègues": "Chers collègues,",
            "Docteur": "Docteur,",
        },
        "Clôtures": {
            "Attente de réponse": "Dans l'attente de votre réponse, je reste à votre disposition pour tout renseignement complémentaire.",
            "Disponibilité": "Je me tiens à votre disposition pour un entretien à la date qui vous conviendra.",
            "Remerciements": "Je vous remercie par avance de l'attention que vous porterez à ma demande.",
            "Pièces jointes": "Vous trouverez ci-joint les pièces justificatives nécessaires à l'examen de mon dossier.",
            "Rappel téléphonique": "N'hésitez pas à me joindre au [téléphone] pour toute question.",
            "Clôture amicale": "Au plaisir de te lire très bientôt,",
            "Délai de réponse": "Sans réponse de votre part sous quinze jours, je me verrai contraint de saisir le service compétent.",
            "Bonne réception": "En vous souhaitant bonne réception de ce courrier,",
        },
        "Clauses": {
            "Confidentialité": "Les parties s'engagent à garder strictement confidentielles les informations échangées pendant l'exécution du présent contrat et pendant une durée de deux ans après son terme.",
            "Force majeure": "Aucune des parties ne pourra être tenue responsable d'un manquement à ses obligations résultant d'un cas de force majeure au sens de l'article 1218 du Code civil.",
            "Contrats de travail": {
                "Période d'essai": "Le présent contrat ne deviendra définitif qu'à l'issue d'une période d'essai de [durée], pendant laquelle chacune des parties pourra y mettre fin en respectant le délai de prévenance légal.",
                "Durée du travail": "La durée hebdomadaire de travail est fixée à trente-cinq heures, réparties du lundi au vendredi selon l'horaire collectif en vigueur.",
                "Rémunération": "En contrepartie de son travail, le salarié percevra une rémunération mensuelle brute de [montant] euros, versée à la fin de chaque mois.",
                "Non-concurrence": "Pendant une durée d'un an suivant la fin du contrat, le salarié s'interdit d'exercer une activité concurrente dans le département de [département], en contrepartie d'une indemnité mensuelle égale à 30 % de son dernier salaire.",
                "Lieu de travail": "Le salarié exercera ses fonctions à [adresse]. Ce lieu pourra être modifié dans le même secteur géographique.",
            },
            "Ventes": {
                "Réserve de propriété": "Les marchandises restent la propriété du vendeur jusqu'au paiement intégral de leur prix.",
                "Délai de rétractation": "Le client dispose d'un délai de quatorze jours à compter de la réception du bien pour exercer son droit de rétractation, sans avoir à justifier de motif.",
                "Garantie": "Les produits bénéficient de la garantie légale de conformité et de la garantie contre les vices cachés.",
                "Livraison": "Les délais de livraison sont donnés à titre indicatif ; un retard ne peut donner lieu à l'annulation de la commande que s'il dépasse trente jours.",
                "Litiges": "Tout litige relatif au présent contrat sera soumis, à défaut d'accord amiable, aux tribunaux compétents du ressort du siège du vendeur.",
            },
        },
        "Adresses": {
            "Adresse personnelle": "[Prénom Nom]\n[Numéro et rue]\n[Code postal] [Ville]",
            "Adresse professionnelle": "[Raison sociale]\nÀ l'attention de [Nom]\n[Adresse]\n[Code postal] [Ville] Cedex",
            "Adresse à l'étranger": "[Prénom Nom]\n[Adresse]\n[Code postal] [Ville]\n[PAYS]",
            "Boîte postale": "[Organisme]\nBP [numéro]\n[Code postal] [Ville] Cedex",
            "Mairie": "Mairie de [commune]\nService de l'état civil\n[Adresse]\n[Code postal] [Commune]",
            "Expéditeur": "Expéditeur :\n[Prénom Nom]\n[Adresse]\n[Téléphone]",
        },
        "Signatures": {
            "Signature simple": "[Prénom Nom]",
            "Signature avec fonction": "[Prénom Nom]\n[Fonction]\n[Société]",
            "Pour le directeur": "Pour le directeur et par délégation,\n[Prénom Nom]",
            "Signature de couple": "[Prénom] et [Prénom] [Nom]",
            "Signature courriel": "[Prénom Nom]\n[Fonction]\nTél. : [téléphone]\n[Adresse du site]",
            "Lu et approuvé": "Fait en deux exemplaires originaux.\nLu et approuvé,\n[Signature]",
        },
        "Mentions légales": {
            "Mentions de facture": "En cas de retard de paiement, une pénalité égale à trois fois le taux d'intérêt légal sera exigible, ainsi qu'une indemnité forfaitaire de 40 euros pour frais de recouvrement.",
            "TVA non applicable": "TVA non applicable, article 293 B du Code général des impôts.",
            "Escompte": "Aucun escompte ne sera consenti en cas de paiement anticipé.",
            "Données personnelles": "Les informations recueillies font l'objet d'un traitement destiné à la gestion de votre dossier. Vous disposez d'un droit d'accès, de rectification et d'effacement des données vous concernant.",
            "Capital social": "[Forme juridique] au capital de [montant] euros — RCS [ville] [numéro] — SIRET [numéro].",
            "Assurance professionnelle": "Assurance responsabilité civile professionnelle souscrite auprès de [assureur], contrat n° [numéro], couvrant le territoire français.",
            "Médiation": "Conformément au Code de la consommation, le client peut recourir gratuitement au médiateur de la consommation [nom], en vue de la résolution amiable d'un litige.",
            "Propriété intellectuelle": "Toute reproduction, même partielle, du présent document est interdite sans l'autorisation écrite de son auteur.",
        },
        "Dates et lieux": {
            "Fait à": "Fait à [Ville], le [date]",
            "En-tête daté": "[Ville], le [jour] [mois] [année]",
            "Objet": "Objet : [objet du courrier]",
            "Références": "Vos réf. : [référence]\nNos réf. : [référence]",
            "Recommandé": "Lettre recommandée avec accusé de réception n° [numéro]",
            "Copie": "Copie : [destinataires]",
            "Pièces jointes": "P. J. : [nombre] pièces",
        },
    },
}


def rtf_escape(text):
    out = []
    for ch in text:
        code = ord(ch)
        if ch in "\\{}":
            out.append("\\" + ch)
        elif ch == "\t":
            out.append("\\tab ")
        elif code < 0x80:
            out.append(ch)
        else:
            try:
                b = ch.encode("cp1252")
                out.append("\\'%02x" % b[0])
            except UnicodeEncodeError:
                out.append("\\u%d?" % (code if code < 0x8000 else code - 0x10000))
    return "".join(out)


def to_rtf(title, body):
    lines = [
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1036",
        "{\\fonttbl{\\f0\\froman\\fcharset0 Times New Roman;}{\\f1\\fswiss\\fcharset0 Arial;}}",
        "{\\info{\\title " + rtf_escape(title) + "}{\\author Norvanta (d\\'e9monstration)}}",
        "\\paperw11906\\paperh16838\\margl1417\\margr1417\\margt1417\\margb1417",
        "\\viewkind1\\uc1",
    ]
    for para in body.split("\n"):
        if para.startswith("# "):
            lines.append("\\pard\\sb240\\sa120\\keepn\\f1\\fs28\\b " + rtf_escape(para[2:]) + "\\b0\\par")
        elif para.startswith("> "):
            lines.append("\\pard\\qr\\sa0\\f0\\fs24 " + rtf_escape(para[2:]) + "\\par")
        else:
            lines.append("\\pard\\sa120\\f0\\fs24 " + rtf_escape(para) + "\\par")
    lines.append("}")
    return ("\r\n".join(lines) + "\r\n").encode("ascii")


def write_tree(folder, tree, counts):
    for name, value in tree.items():
        if isinstance(value, dict):
            write_tree(os.path.join(folder, name), value, counts)
        else:
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, name + ".rtf"), "wb") as f:
                f.write(to_rtf(name, value))
            counts[0] += 1


def main():
    for top in (TEMPLATES, INSERTS):
        counts = [0]
        write_tree(os.path.join(ROOT, top), DOCS[top], counts)
        print(f"{top}: {counts[0]} files", file=sys.stderr)


if __name__ == "__main__":
    main()
