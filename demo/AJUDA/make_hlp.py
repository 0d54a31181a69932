#!/usr/bin/env python3
"""Writes the text help files of the demo suite root (AJUDA/*.HLP).

A text help file is a sequence of fixed-length records, one per line, each
exactly 80 bytes (the console width), code page 850, padded with spaces and
without line ends.  Only 76 visible characters of a line are shown.  Three
control characters switch styles on and off and are not shown:
    code 30  bright   (headings)
    code 31  bar      (the title of a help file)
    code 16  reverse  (key names in the key lists)

In the texts below a line starting with "# " is a heading (bright), a line
starting with "= " is the title (bar), and [text] marks a key name.

    python3 demo/AJUDA/make_hlp.py [output-folder]    (default: this folder)
"""
import os
import sys

LINE = 80
VISIBLE = 76
BRIGHT, BAR, REVERSE = "\x1e", "\x1f", "\x10"

TARPELIX = r"""
= LIQUIDACIÓ D'HONORARIS I TANCAMENT DEL PERÍODE

# QUÈ FA LA LIQUIDACIÓ
 Per a cada finca de l'interval triat, fins a la data de liquidació:
  - Calcula els honoraris de l'administrador: la quota per propietari i mes
    de la finca, pel nombre de propietaris i pels mesos que han passat des
    de la darrera liquidació de la finca (els dies no compten).
  - Hi afegeix l'IVA del tipus de la finca i, quan escau, en resta la
    retenció: quan el NIF de l'administrador és d'una persona física
    espanyola i la comunitat té NIF espanyol d'entitat (de la A a la W).
  - Reparteix els honoraris entre els propietaris pels seus coeficients.
    Les notes de despeses de la finca poden triar el grup de coeficients
    amb HO i la lletra del grup (HOA ... HOG); si no n'hi ha, el grup 1.
  - Reparteix també els pagaments de la finca fins a la data: els marcats
    amb S van sencers al propietari indicat, els altres es reparteixen pel
    grup de coeficients indicat al pagament.
  - Resta a cada propietari els seus cobraments del període (tipus C i I)
    i desa el saldo al concepte de ròssec: el que el propietari deu. Un
    import negatiu al concepte de ròssec és un saldo a favor.
  - Esborra els cobraments i els pagaments liquidats (fins a la data).
  - Posa la data de liquidació com a nova data de darrera liquidació.
 La liquidació no es pot desfer: feu una còpia de seguretat de les dades
 abans de començar. Una segona liquidació amb la mateixa data no torna a
 cobrar honoraris ni troba cobraments ni pagaments per liquidar.

# LA PANTALLA DE PARÀMETRES
 DATA DE LIQUIDACIÓ  Data fins a la qual es liquida: dia, mes i any
                     (15/5/23, 15.05.2023 o 150523). Si la deixeu buida
                     s'hi posa la data de la sessió. [Alt+C] obre el
                     calendari per triar-la.
 DE LA FINCA         Número de la primera finca que es liquida.
 FINS A LA FINCA     Número de la darrera finca que es liquida; no pot ser
                     més petit que el de la primera. En tots dos camps
                     [F4] mostra la llista de finques per triar-ne una.
 CONCEPTE RÒSSEC     Concepte de rebut (de l'1 al 8) que rep el saldo de
                     cada propietari. Ha d'existir al fitxer de conceptes i
                     ser de tipus ròssec; si no, el programa ho avisa i no
                     deixa continuar. [F4] mostra la llista de conceptes.

# LA CONFIRMACIÓ
 Acceptats els paràmetres, el programa pregunta
 CONFIRMEU LA LIQUIDACIÓ (S/N). Trieu SÍ amb la tecla S (l'espai o les
 fletxes canvien entre NO i SÍ) i premeu [Retorn] per fer la liquidació.
 NO, o [Esc], torna a la pantalla de paràmetres sense canviar cap dada.
 Acabada una liquidació, la pantalla de paràmetres
 torna a sortir per fer-ne una altra; [Esc] al primer camp surt del programa.

# TECLES DE LA PANTALLA
 [Retorn] [Avall]   Camp següent; al darrer camp accepta la pantalla.
 [Amunt]            Camp anterior.
 [RePàg] [AvPàg]    Primer camp, darrer camp.
 [Fi]               Accepta la pantalla tal com està.
 [Esc]              Desfà el que heu escrit al camp i torna al primer camp;
                    al primer camp, surt.
 [F1]               Aquesta ajuda. Dins de l'ajuda, [F1] mostra l'ajuda
                    general del menú.
 [F4]               Llista per triar una finca o un concepte (vegeu més
                    avall).
 [Alt+C]            Calendari, des de qualsevol camp.
 [Alt+X]            Calculadora, des de qualsevol camp.

# LES LLISTES (F4)
 [Amunt] [Avall] mouen la barra; [RePàg] [AvPàg] passen pàgina.
 [Esquerra] [Dreta] desplacen el text de 8 en 8 si les línies no hi caben;
 una punta de fletxa a la cantonada del marc de dalt, a l'esquerra o a la
 dreta, indica que per aquell costat hi ha més text.
 [Retorn] tria la línia de la barra i n'escriu el codi al camp.
 [Esc] surt sense canviar el camp. Si la llista és molt llarga i triga a
 sortir, [Esc] n'atura la lectura.

# EL CALENDARI (Alt+C)
 Mostra un trimestre a partir de la data de la sessió.
 [Esquerra] [Dreta] un dia, [Amunt] [Avall] una setmana, [RePàg] [AvPàg]
 tres mesos, [Inici] gener i [Fi] desembre del mateix any.
 [F] escriu la data triada al camp; [Esc] surt sense escriure res.

# LA CALCULADORA (Alt+X)
 Una sumadora amb cinta de paper: cada operació queda escrita a la cinta.
 [0]...[9] i [.]    Entren el número.  [Retrocés] n'esborra la darrera xifra.
 [T]                Canvia el signe del número.
 [+] [-] [*] [/]    Operen amb el resultat acumulat.
 [=] o [Retorn]     Total.  Exemple: 12 + 30 = dóna 42.
 [%]                Percentatge: 200 + 10 % = dóna 220; 50 * 10 % = dóna 5.
 [R]                Arrodoneix a dos decimals.
 [C]                Esborra el número; un segon [C] ho esborra tot; un
                    tercer [C] buida la cinta.
 [F]                Escriu el resultat al camp com a import en cèntims
                    (12,50 s'escriu 1250) i tanca la calculadora.
 [Esc]              Tanca la calculadora sense escriure res.
 [Esquerra] [Dreta] Mouen la finestra de la calculadora.
 Una divisió per zero mostra ERROR: premeu [C] per tornar a començar.
 La cinta es guarda: la propera vegada la calculadora continua on era.

# AQUESTA AJUDA
 [Amunt] [Avall] línia a línia, [RePàg] [AvPàg] pàgina a pàgina, [Inici]
 al començament, [Fi] al final. [Esc] torna al camp on éreu.
"""

QOLAMENU = r"""
= AJUDA GENERAL DEL PROGRAMA D'ADMINISTRACIÓ DE FINQUES

# ELS PROGRAMES
 Cada opció del menú obre un programa amb les seves pantalles. Les dades
 són compartides entre tots els ordinadors de l'oficina: si un altre lloc
 de treball té ocupat un fitxer o un registre, el programa ho avisa a
 baix de la pantalla i espera que quedi lliure.

# ELS CAMPS
 Escriviu el valor i premeu [Retorn] per passar al camp següent.
 [Esquerra] [Dreta] [Inici] [Fi]  Mouen el cursor dins del camp.
 [Ctrl+Esquerra] [Ctrl+Dreta]     Paraula anterior, paraula següent.
 [Ins]              Canvia entre inserir i sobreescriure (cursor gruixut).
 [Supr] [Retrocés]  Esborren un caràcter.
 [Ctrl+Y]           Esborra tot el camp.
 [Ctrl+C] [Ctrl+V]  Copien el camp i hi enganxen un text.
 [Alt] + número del teclat numèric: escriu el caràcter d'aquest codi.
 En els camps amb opcions, la inicial o l'espai trien l'opció.

# TECLES DE TOTS ELS PROGRAMES
 [F1]     Ajuda de la pantalla.        [Esc]    Desfà o surt.
 [F4]     Llista per triar un valor.   [Alt+C]  Calendari.
 [Alt+X]  Calculadora amb cinta.

# LES DATES I ELS IMPORTS
 Les dates s'escriuen dia, mes i any: 15/5/23, 15.05.2023 o 150523.
 Els imports s'escriuen en cèntims, només amb xifres: 12,50 s'escriu 1250.
 La calculadora ([Alt+X]) els escriu així al camp amb la tecla [F].

# SORTIR
 [Esc] al primer camp d'una pantalla surt del programa i torna al menú.
"""


def styled(text):
    """A line of the help text with its style codes, and its visible length."""
    if text.startswith("= "):
        body = BAR + " " + text[2:] + " " + BAR
    elif text.startswith("# "):
        body = BRIGHT + text[2:] + BRIGHT
    else:
        body = text.replace("[", REVERSE).replace("]", REVERSE)
    visible = sum(1 for c in body if c not in (BRIGHT, BAR, REVERSE))
    return body, visible


def records(text):
    out = b""
    for number, line in enumerate(text.strip("\n").split("\n"), 1):
        body, visible = styled(line.rstrip())
        data = body.encode("cp850")
        if visible > VISIBLE or len(data) > LINE:
            raise SystemExit(f"line {number} too long ({visible} visible, {len(data)} bytes): {line}")
        out += data + b" " * (LINE - len(data))
    return out


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, text in (("TARPELIX", TARPELIX), ("QOLAMENU", QOLAMENU)):
        with open(os.path.join(folder, name + ".HLP"), "wb") as out:
            out.write(records(text))


if __name__ == "__main__":
    main()
