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
starting with "= " is the title (bar), and [text] marks a key name.  The
brackets are not shown, so the columns after a key name are kept where the
text has them: the next run of two or more blanks takes the columns the
brackets leave.

The Catalan help goes to the folder itself; the Spanish, Galician and
Aranese help to its subfolders SPA, GLG and OCI, where the program looks
first for a session in that language.

    python3 demo/AJUDA/make_hlp.py [output-folder]    (default: this folder)
"""
import os
import sys

LINE = 80
VISIBLE = 76
BRIGHT, BAR, REVERSE = "\x1e", "\x1f", "\x10"

TARPELIX_CAT = r"""
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
 Cada finca es liquida sencera o gens. Una segona liquidació amb la
 mateixa data no torna a cobrar honoraris ni troba res per liquidar.

# MENTRE ES LIQUIDA I DESPRÉS
 La línia 24 mostra la finca que es liquida i quantes en porta de
 l'interval. [Esc] atura la liquidació en acabar la finca en curs: les
 liquidades queden liquidades i les altres, intactes.
 En acabar, una finestra en dona el resultat: el número de la passada, la
 data, l'interval, les finques liquidades, els imports i les finques que
 no s'han liquidat, amb el motiu. [AvPàg] [RePàg] en passen les pàgines;
 [Esc] la tanca.
 Cada passada queda al diari de liquidacions. L'eina settlements en fa la
 llista (settlements list), en mostra el detall (settlements show N) i la
 desfà (settlements undo N): cada registre torna a ser com era. No en
 desfà cap que una passada posterior hagi tornat a tocar (desfeu primer
 la més nova).

# LA PANTALLA DE PARÀMETRES
 DATA DE LIQUIDACIÓ  Data fins a la qual es liquida: dia, mes i any
                     (15/5/23, 15.05.2023 o 150523). Si la deixeu buida
                     s'hi posa la data de la sessió. [Alt+C] obre el
                     calendari per triar-la.
 DE LA FINCA         Número de la primera finca que es liquida (fins a 4
                     xifres).
 FINS A LA FINCA     Número de la darrera finca que es liquida; no pot ser
                     més petit que el de la primera. En tots dos camps
                     [F4] mostra la llista de finques per triar-ne una.
 CONCEPTE RÒSSEC     Concepte de rebut (de l'1 al 8) que rep el saldo de
                     cada propietari. Ha d'existir al fitxer de conceptes i
                     ser de tipus ròssec. [F4] mostra la llista de
                     conceptes; un concepte de la llista que el camp no
                     admet (el 10, per exemple) no s'hi desa.
 Quan el programa no admet un valor, xiula i diu el motiu a la línia 24
 (DATA INCORRECTA, EL CONCEPTE HA DE SER DEL 0 AL 8...). El motiu se'n va
 amb la tecla següent; corregiu el valor i continueu.

# LA CONFIRMACIÓ
 Acceptats els paràmetres, el programa pregunta
 CONFIRMEU LA LIQUIDACIÓ (S/N). Trieu SÍ amb la tecla S (l'espai o les
 fletxes canvien entre NO i SÍ) i premeu [Retorn] per fer la liquidació.
 NO, o [Esc], torna a la pantalla de paràmetres sense canviar cap dada.
 Acabada una liquidació, la pantalla de paràmetres torna a sortir per
 fer-ne una altra; [Esc] al primer camp surt del programa.

# TECLES DE LA PANTALLA
 [Retorn] [Avall]   Camp següent; al darrer camp accepta la pantalla.
 [Amunt]            Camp anterior.
 [RePàg] [AvPàg]    Primer camp, darrer camp.
 [Inici] [Fi]       Principi i final del text del camp.
 [Esc]              Desfà el que heu escrit al camp i torna al primer camp;
                    al primer camp, surt.
 [F1]               Aquesta ajuda. Dins de l'ajuda, [F1] mostra l'ajuda
                    general del menú.
 [F4]               Llista per triar una finca o un concepte (vegeu més
                    avall).
 [Alt+C]            Calendari, des de qualsevol camp.
 [Alt+X]            Calculadora, des de qualsevol camp.
 La línia 25 recorda les tecles principals de cada pantalla.

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
 [F] posa la data triada al camp en lloc del que hi havia; [Esc] surt
 sense canviar res.

# LA CALCULADORA (Alt+X)
 Una sumadora amb cinta de paper: cada operació queda escrita a la cinta.
 [0]...[9] i [.]    Entren el número; [Retrocés] esborra una xifra.
 [T]                Canvia el signe del número.
 [+] [-] [*] [/]    Operen amb el resultat acumulat.
 [=] o [Retorn]     Total. Exemple: 12 + 30 = dóna 42.
 [%]                Percentatge: 200 + 10 % = dóna 220; 50 * 10 % = dóna 5.
 [R]                Arrodoneix a dos decimals.
 [C]                Esborra el número; un segon [C] ho esborra tot; un
                    tercer [C] buida la cinta.
 [F]                Posa el resultat al camp en lloc del que hi havia i
                    tanca la calculadora. En un camp d'import, en cèntims
                    (12,50 s'escriu 1250); en un camp de data, de finca o
                    de concepte, el número tal com és (42).
 [Esc]              Tanca la calculadora sense escriure res.
 [Esquerra] [Dreta] Mouen la finestra de la calculadora.
 Una divisió per zero mostra ERROR: premeu [C] per tornar a començar.
 La cinta es guarda: la propera vegada la calculadora continua on era.

# AQUESTA AJUDA
 [Amunt] [Avall] línia a línia, [RePàg] [AvPàg] pàgina a pàgina, [Inici]
 al començament, [Fi] al final. [Esc] torna al camp on éreu.
"""

QOLAMENU_CAT = r"""
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
 Un valor que no s'admet fa xiular el programa, que en diu el motiu a la
 línia 24 fins a la tecla següent.

# TECLES DE TOTS ELS PROGRAMES
 [F1]     Ajuda de la pantalla.        [Esc]    Desfà o surt.
 [F4]     Llista per triar un valor.   [Alt+C]  Calendari.
 [Alt+X]  Calculadora amb cinta.

# LES DATES I ELS IMPORTS
 Les dates s'escriuen dia, mes i any: 15/5/23, 15.05.2023 o 150523.
 Els imports s'escriuen en cèntims, només amb xifres: 12,50 s'escriu 1250.
 La calculadora ([Alt+X]) els hi posa així amb la tecla [F]; en un camp de
 data o de codi hi posa el número tal com és.

# SORTIR
 [Esc] al primer camp d'una pantalla surt del programa i torna al menú.
"""

TARPELIX_SPA = r"""
= LIQUIDACIÓN DE HONORARIOS Y CIERRE DEL PERÍODO

# QUÉ HACE LA LIQUIDACIÓN
 Para cada finca del intervalo elegido, hasta la fecha de liquidación:
  - Calcula los honorarios del administrador: la cuota por propietario y
    mes de la finca, por el número de propietarios y por los meses pasados
    desde la última liquidación de la finca (los días no cuentan).
  - Añade el IVA del tipo de la finca y, cuando procede, resta la
    retención: cuando el NIF del administrador es de una persona física
    española y la comunidad tiene NIF español de entidad (de la A a la W).
  - Reparte los honorarios entre los propietarios por sus coeficientes.
    Las notas de gastos de la finca pueden elegir el grupo de coeficientes
    con HO y la letra del grupo (HOA ... HOG); si no hay, el grupo 1.
  - Reparte también los pagos de la finca hasta la fecha: los marcados con
    S van enteros al propietario indicado, los demás se reparten por el
    grupo de coeficientes indicado en el pago.
  - Resta a cada propietario sus cobros del período (tipos C e I) y guarda
    el saldo en el concepto de arrastre: lo que el propietario debe. Un
    importe negativo en el concepto de arrastre es un saldo a favor.
  - Borra los cobros y los pagos liquidados (hasta la fecha).
  - Pone la fecha de liquidación como nueva fecha de última liquidación.
 Cada finca se liquida entera o nada. Una segunda liquidación con la misma
 fecha no vuelve a cobrar honorarios ni encuentra nada que liquidar.

# MIENTRAS SE LIQUIDA Y DESPUÉS
 La línea 24 muestra la finca que se liquida y cuántas lleva del
 intervalo. [Esc] detiene la liquidación al acabar la finca en curso: las
 liquidadas quedan liquidadas y las demás, intactas.
 Al acabar, una ventana da el resultado: el número de la pasada, la
 fecha, el intervalo, las fincas liquidadas, los importes y las fincas no
 liquidadas, con el motivo. [AvPág] [RePág] pasan sus páginas; [Esc] la
 cierra.
 Cada pasada queda en el diario de liquidaciones. La herramienta
 settlements las lista (settlements list), muestra el detalle de una
 (settlements show N) y la deshace (settlements undo N): cada registro
 vuelve a ser como era. No deshace una pasada si otra posterior ha vuelto
 a tocar sus fincas (deshaga primero la más nueva).

# LA PANTALLA DE PARÁMETROS
 FECHA DE LIQUIDACIÓN  Fecha hasta la que se liquida: día, mes y año
                       (15/5/23, 15.05.2023 o 150523). Si la deja vacía
                       se pone la fecha de la sesión. [Alt+C] abre el
                       calendario para elegirla.
 DESDE LA FINCA        Número de la primera finca que se liquida (hasta
                       4 cifras).
 HASTA LA FINCA        Número de la última finca que se liquida; no puede
                       ser menor que el de la primera. En los dos campos
                       [F4] muestra la lista de fincas para elegir una.
 CONCEPTO ARRASTRE     Concepto de recibo (del 1 al 8) que recibe el saldo
                       de cada propietario. Debe existir en el fichero de
                       conceptos y ser de tipo arrastre. [F4] muestra la
                       lista de conceptos; un concepto de la lista que el
                       campo no admite (el 10, por ejemplo) no se guarda.
 Cuando el programa no admite un valor, pita y dice el motivo en la línea
 24 (FECHA INCORRECTA, EL CONCEPTO DEBE SER DEL 0 AL 8...). El motivo se
 va con la tecla siguiente; corrija el valor y continúe.

# LA CONFIRMACIÓN
 Aceptados los parámetros, el programa pregunta
 CONFIRME LA LIQUIDACIÓN (S/N). Elija SÍ con la tecla S (el espacio o las
 flechas cambian entre NO y SÍ) y pulse [Intro] para hacer la liquidación.
 NO, o [Esc], vuelve a la pantalla de parámetros sin cambiar ningún dato.
 Acabada una liquidación, la pantalla de parámetros vuelve a salir para
 hacer otra; [Esc] en el primer campo sale del programa.

# TECLAS DE LA PANTALLA
 [Intro] [Abajo]    Campo siguiente; en el último campo acepta la pantalla.
 [Arriba]           Campo anterior.
 [RePág] [AvPág]    Primer campo, último campo.
 [Inicio] [Fin]     Principio y final del texto del campo.
 [Esc]              Deshace lo escrito en el campo y vuelve al primer
                    campo; en el primer campo, sale.
 [F1]               Esta ayuda. Dentro de la ayuda, [F1] muestra la ayuda
                    general del menú.
 [F4]               Lista para elegir una finca o un concepto (vea más
                    abajo).
 [Alt+C]            Calendario, desde cualquier campo.
 [Alt+X]            Calculadora, desde cualquier campo.
 La línea 25 recuerda las teclas principales de cada pantalla.

# LAS LISTAS (F4)
 [Arriba] [Abajo] mueven la barra; [RePág] [AvPág] pasan página.
 [Izquierda] [Derecha] desplazan el texto de 8 en 8 si las líneas no
 caben; una punta de flecha en la esquina del marco de arriba, a la
 izquierda o a la derecha, indica que por ese lado hay más texto.
 [Intro] elige la línea de la barra y escribe su código en el campo.
 [Esc] sale sin cambiar el campo. Si la lista es muy larga y tarda en
 salir, [Esc] detiene su lectura.

# EL CALENDARIO (Alt+C)
 Muestra un trimestre a partir de la fecha de la sesión.
 [Izquierda] [Derecha] un día, [Arriba] [Abajo] una semana, [RePág]
 [AvPág] tres meses, [Inicio] enero y [Fin] diciembre del mismo año.
 [F] pone la fecha elegida en el campo en lugar de lo que había; [Esc]
 sale sin cambiar nada.

# LA CALCULADORA (Alt+X)
 Una sumadora con cinta de papel: cada operación queda escrita en la cinta.
 [0]...[9] y [.]    Entran el número; [Retroceso] borra una cifra.
 [T]                Cambia el signo del número.
 [+] [-] [*] [/]    Operan con el resultado acumulado.
 [=] o [Intro]      Total. Ejemplo: 12 + 30 = da 42.
 [%]                Porcentaje: 200 + 10 % = da 220; 50 * 10 % = da 5.
 [R]                Redondea a dos decimales.
 [C]                Borra el número; una segunda [C] lo borra todo; una
                    tercera [C] vacía la cinta.
 [F]                Pone el resultado en el campo en lugar de lo que había
                    y cierra la calculadora. En un campo de importe, en
                    céntimos (12,50 se escribe 1250); en un campo de fecha,
                    de finca o de concepto, el número tal cual (42).
 [Esc]              Cierra la calculadora sin escribir nada.
 [Izquierda] [Derecha]  Mueven la ventana de la calculadora.
 Una división por cero muestra ERROR: pulse [C] para volver a empezar.
 La cinta se guarda: la próxima vez la calculadora sigue donde estaba.

# ESTA AYUDA
 [Arriba] [Abajo] línea a línea, [RePág] [AvPág] página a página,
 [Inicio] al principio, [Fin] al final. [Esc] vuelve al campo donde
 estaba.
"""

QOLAMENU_SPA = r"""
= AYUDA GENERAL DEL PROGRAMA DE ADMINISTRACIÓN DE FINCAS

# LOS PROGRAMAS
 Cada opción del menú abre un programa con sus pantallas. Los datos son
 compartidos entre todos los ordenadores de la oficina: si otro puesto de
 trabajo tiene ocupado un fichero o un registro, el programa lo avisa
 abajo de la pantalla y espera a que quede libre.

# LOS CAMPOS
 Escriba el valor y pulse [Intro] para pasar al campo siguiente.
 [Izquierda] [Derecha] [Inicio] [Fin]  Mueven el cursor en el campo.
 [Ctrl+Izquierda] [Ctrl+Derecha]       Palabra anterior, siguiente.
 [Ins]              Cambia entre insertar y sobrescribir (cursor grueso).
 [Supr] [Retroceso] Borran un carácter.
 [Ctrl+Y]           Borra todo el campo.
 [Ctrl+C] [Ctrl+V]  Copian el campo y pegan un texto en él.
 [Alt] + número del teclado numérico: escribe el carácter de ese código.
 En los campos con opciones, la inicial o el espacio eligen la opción.
 Un valor que no se admite hace pitar el programa, que dice el motivo en
 la línea 24 hasta la tecla siguiente.

# TECLAS DE TODOS LOS PROGRAMAS
 [F1]     Ayuda de la pantalla.        [Esc]    Deshace o sale.
 [F4]     Lista para elegir un valor.  [Alt+C]  Calendario.
 [Alt+X]  Calculadora con cinta.

# LAS FECHAS Y LOS IMPORTES
 Las fechas se escriben día, mes y año: 15/5/23, 15.05.2023 o 150523.
 Los importes se escriben en céntimos, solo con cifras: 12,50 es 1250.
 La calculadora ([Alt+X]) los pone así con la tecla [F]; en un campo de
 fecha o de código pone el número tal cual.

# SALIR
 [Esc] en el primer campo de una pantalla sale del programa y vuelve al
 menú.
"""

TARPELIX_GLG = r"""
= LIQUIDACIÓN DE HONORARIOS E PECHE DO PERÍODO

# QUE FAI A LIQUIDACIÓN
 Para cada finca do intervalo escollido, ata a data de liquidación:
  - Calcula os honorarios do administrador: a cota por propietario e mes
    da finca, polo número de propietarios e polos meses pasados desde a
    última liquidación da finca (os días non contan).
  - Engade o IVE do tipo da finca e, cando cómpre, resta a retención:
    cando o NIF do administrador é dunha persoa física española e a
    comunidade ten NIF español de entidade (da A á W).
  - Reparte os honorarios entre os propietarios polos seus coeficientes.
    As notas de gastos da finca poden escoller o grupo de coeficientes con
    HO e a letra do grupo (HOA ... HOG); se non hai, o grupo 1.
  - Reparte tamén os pagamentos da finca ata a data: os marcados con S
    van enteiros ao propietario indicado, os demais repártense polo grupo
    de coeficientes indicado no pagamento.
  - Resta a cada propietario os seus cobramentos do período (tipos C e I)
    e garda o saldo no concepto de arrastre: o que o propietario debe. Un
    importe negativo no concepto de arrastre é un saldo a favor.
  - Borra os cobramentos e os pagamentos liquidados (ata a data).
  - Pon a data de liquidación como nova data de última liquidación.
 Cada finca liquídase enteira ou nada. Unha segunda liquidación coa mesma
 data non volve cobrar honorarios nin atopa nada que liquidar.

# MENTRES SE LIQUIDA E DESPOIS
 A liña 24 mostra a finca que se liquida e cantas leva do intervalo.
 [Esc] detén a liquidación ao acabar a finca en curso: as liquidadas
 quedan liquidadas e as demais, intactas.
 Ao acabar, unha xanela dá o resultado: o número da pasada, a data, o
 intervalo, as fincas liquidadas, os importes e as fincas non
 liquidadas, co motivo. [AvPáx] [RePáx] pasan as súas páxinas; [Esc]
 péchaa.
 Cada pasada queda no diario de liquidacións. A ferramenta settlements
 fai a lista (settlements list), mostra o detalle dunha (settlements show
 N) e desfaina (settlements undo N): cada rexistro volve ser como era. Non
 desfai unha pasada se outra posterior volveu tocar as súas fincas
 (desfaga primeiro a máis nova).

# A PANTALLA DE PARÁMETROS
 DATA DE LIQUIDACIÓN  Data ata a que se liquida: día, mes e ano
                      (15/5/23, 15.05.2023 ou 150523). Se a deixa baleira
                      ponse a data da sesión. [Alt+C] abre o calendario
                      para escollela.
 DESDE A FINCA        Número da primeira finca que se liquida (ata 4
                      cifras).
 ATA A FINCA          Número da última finca que se liquida; non pode ser
                      menor que o da primeira. Nos dous campos [F4] mostra
                      a lista de fincas para escoller unha.
 CONCEPTO ARRASTRE    Concepto de recibo (do 1 ao 8) que recibe o saldo de
                      cada propietario. Debe existir no ficheiro de
                      conceptos e ser de tipo arrastre. [F4] mostra a
                      lista de conceptos; un concepto da lista que o campo
                      non admite (o 10, por exemplo) non se garda.
 Cando o programa non admite un valor, asubía e di o motivo na liña 24
 (DATA NON VÁLIDA, O CONCEPTO DEBE SER DO 0 AO 8...). O motivo vaise coa
 tecla seguinte; corrixa o valor e continúe.

# A CONFIRMACIÓN
 Aceptados os parámetros, o programa pregunta
 CONFIRME A LIQUIDACIÓN (S/N). Escolla SI coa tecla S (o espazo ou as
 frechas cambian entre NON e SI) e prema [Intro] para facer a liquidación.
 NON, ou [Esc], volve á pantalla de parámetros sen cambiar ningún dato.
 Acabada unha liquidación, a pantalla de parámetros volve saír para facer
 outra; [Esc] no primeiro campo sae do programa.

# TECLAS DA PANTALLA
 [Intro] [Abaixo]   Campo seguinte; no último campo acepta a pantalla.
 [Arriba]           Campo anterior.
 [RePáx] [AvPáx]    Primeiro campo, último campo.
 [Inicio] [Fin]     Principio e final do texto do campo.
 [Esc]              Desfai o escrito no campo e volve ao primeiro campo;
                    no primeiro campo, sae.
 [F1]               Esta axuda. Dentro da axuda, [F1] mostra a axuda xeral
                    do menú.
 [F4]               Lista para escoller unha finca ou un concepto (vexa
                    máis abaixo).
 [Alt+C]            Calendario, desde calquera campo.
 [Alt+X]            Calculadora, desde calquera campo.
 A liña 25 lembra as teclas principais de cada pantalla.

# AS LISTAS (F4)
 [Arriba] [Abaixo] moven a barra; [RePáx] [AvPáx] pasan páxina.
 [Esquerda] [Dereita] desprazan o texto de 8 en 8 se as liñas non caben;
 unha punta de frecha na esquina do marco de arriba, á esquerda ou á
 dereita, indica que por ese lado hai máis texto.
 [Intro] escolle a liña da barra e escribe o seu código no campo.
 [Esc] sae sen cambiar o campo. Se a lista é moi longa e tarda en saír,
 [Esc] detén a súa lectura.

# O CALENDARIO (Alt+C)
 Mostra un trimestre a partir da data da sesión.
 [Esquerda] [Dereita] un día, [Arriba] [Abaixo] unha semana, [RePáx]
 [AvPáx] tres meses, [Inicio] xaneiro e [Fin] decembro do mesmo ano.
 [F] pon a data escollida no campo en lugar do que había; [Esc] sae sen
 cambiar nada.

# A CALCULADORA (Alt+X)
 Unha sumadora con cinta de papel: cada operación queda escrita na cinta.
 [0]...[9] e [.]    Entran o número; [Retroceso] borra unha cifra.
 [T]                Cambia o signo do número.
 [+] [-] [*] [/]    Operan co resultado acumulado.
 [=] ou [Intro]     Total. Exemplo: 12 + 30 = dá 42.
 [%]                Porcentaxe: 200 + 10 % = dá 220; 50 * 10 % = dá 5.
 [R]                Arredonda a dous decimais.
 [C]                Borra o número; un segundo [C] bórrao todo; un
                    terceiro [C] baleira a cinta.
 [F]                Pon o resultado no campo en lugar do que había e
                    pecha a calculadora. Nun campo de importe, en céntimos
                    (12,50 escríbese 1250); nun campo de data, de finca ou
                    de concepto, o número tal como é (42).
 [Esc]              Pecha a calculadora sen escribir nada.
 [Esquerda] [Dereita]  Moven a xanela da calculadora.
 Unha división por cero mostra ERRO: prema [C] para volver comezar.
 A cinta gárdase: a próxima vez a calculadora segue onde estaba.

# ESTA AXUDA
 [Arriba] [Abaixo] liña a liña, [RePáx] [AvPáx] páxina a páxina, [Inicio]
 ao comezo, [Fin] ao final. [Esc] volve ao campo onde estaba.
"""

QOLAMENU_GLG = r"""
= AXUDA XERAL DO PROGRAMA DE ADMINISTRACIÓN DE FINCAS

# OS PROGRAMAS
 Cada opción do menú abre un programa coas súas pantallas. Os datos son
 compartidos entre todos os ordenadores da oficina: se outro posto de
 traballo ten ocupado un ficheiro ou un rexistro, o programa avisa abaixo
 da pantalla e agarda a que quede libre.

# OS CAMPOS
 Escriba o valor e prema [Intro] para pasar ao campo seguinte.
 [Esquerda] [Dereita] [Inicio] [Fin]  Moven o cursor no campo.
 [Ctrl+Esquerda] [Ctrl+Dereita]       Palabra anterior, seguinte.
 [Ins]              Cambia entre inserir e sobrescribir (cursor groso).
 [Supr] [Retroceso] Borran un carácter.
 [Ctrl+Y]           Borra todo o campo.
 [Ctrl+C] [Ctrl+V]  Copian o campo e pegan nel un texto.
 [Alt] + número do teclado numérico: escribe o carácter dese código.
 Nos campos con opcións, a inicial ou o espazo escollen a opción.
 Un valor que non se admite fai asubiar o programa, que di o motivo na
 liña 24 ata a tecla seguinte.

# TECLAS DE TODOS OS PROGRAMAS
 [F1]     Axuda da pantalla.           [Esc]    Desfai ou sae.
 [F4]     Lista para escoller un valor. [Alt+C] Calendario.
 [Alt+X]  Calculadora con cinta.

# AS DATAS E OS IMPORTES
 As datas escríbense día, mes e ano: 15/5/23, 15.05.2023 ou 150523.
 Os importes escríbense en céntimos, só con cifras: 12,50 é 1250.
 A calculadora ([Alt+X]) pono así coa tecla [F]; nun campo de data ou de
 código pon o número tal como é.

# SAÍR
 [Esc] no primeiro campo dunha pantalla sae do programa e volve ao menú.
"""

TARPELIX_OCI = r"""
= LIQUIDACION D'ONORARIS E BARRADA DETH PERÍODE

# QUÈ HÈ ERA LIQUIDACION
 Entà cada finca der interval triat, enquia era data de liquidacion:
  - Calcula es onoraris der administrador: era quòta per proprietari e
    mes dera finca, peth nombre de proprietaris e pes mesi passadi dempús
    dera darrèra liquidacion dera finca (es dies non compden).
  - I higè er IVA deth tipe dera finca e, quan cau, ne trè era retencion:
    quan eth NIF der administrador ei d'ua persona fisica espanhòla e era
    comunautat a NIF espanhòu d'entitat (dera A ara W).
  - Repartís es onoraris entre es proprietaris pes sòns coeficients.
    Es nòtes de despenses dera finca pòden triar eth grop de coeficients
    damb HO e era letra deth grop (HOA ... HOG); se non n'i a, eth grop 1.
  - Repartís tanben es pagaments dera finca enquia era data: es marcadi
    damb S van entièrs ath proprietari indicat, es auti se repartissen
    peth grop de coeficients indicat en pagament.
  - Trè a cada proprietari es sòns cobraments deth període (tipes C e I)
    e sauve eth sòlde en concèpte de repòrt: çò que deu eth proprietari.
    Un impòrt negatiu en concèpte de repòrt ei un sòlde a favor.
  - Esborre es cobraments e es pagaments liquidadi (enquia era data).
  - Met era data de liquidacion coma naua data de darrèra liquidacion.
 Cada finca se liquide sancèra o arren. Ua dusau liquidacion damb era
 madeisha data non torne a cobrar onoraris ni tròbe arren ta liquidar.

# MENTRE SE LIQUIDE E DEMPÚS
 Era linha 24 mòstre era finca que se liquide e quantes ne pòrte der
 interval. [Esc] arreste era liquidacion en acabar era finca en cors:
 es liquidades demoren liquidades e es autes, intactes.
 En acabar, ua hièstra ne balhe eth resultat: eth numèro dera passada,
 era data, er interval, es finques liquidades, es impòrts e es finques
 non liquidades, damb eth motiu. [AvPàg] [RePàg] ne passen es pagines;
 [Esc] la barre.
 Cada passada demore en diari de liquidacions. Era aisina settlements ne
 hè era lista (settlements list), ne mòstre eth detalh (settlements show
 N) e la desfè (settlements undo N): cada registre torne a èster coma ère.
 Non desfè ua passada se ua auta mès tardiva a tornat a tocar es sues
 finques (desfetz prumèr era mès naua).

# ERA PANTALHA DE PARAMÈTRES
 DATA DE LIQUIDACION   Data enquia era quau se liquide: dia, mes e an
                       (15/5/23, 15.05.2023 o 150523). Se la deishatz
                       vueda, s'i met era data dera session. [Alt+C] daurís
                       eth calendari entà triar-la.
 DES DERA FINCA        Numèro dera prumèra finca que se liquide (enquia
                       4 chifres).
 ENQUIA ERA FINCA      Numèro dera darrèra finca que se liquide; non pòt
                       èster mès petit qu'eth dera prumèra. Enes dus camps
                       [F4] mòstre era lista de finques entà triar-ne ua.
 CONCÈPTE DE REPÒRT    Concèpte de recebut (der 1 ath 8) que recep eth
                       sòlde de cada proprietari. A d'exisitir en fichèr de
                       concèptes e èster de tipe repòrt. [F4] mòstre era
                       lista de concèptes; un concèpte dera lista qu'eth
                       camp non admet (eth 10, per exemple) non s'i sauve.
 Quan eth programa non admet ua valor, shiule e ditz eth motiu ena linha
 24 (DATA INCORRÈCTA, ETH CONCÈPTE A D'ÈSSER DETH 0 AU 8...). Eth motiu
 se'n va damb era tèca següenta; corregitz era valor e seguitz.

# ERA CONFIRMACION
 Acceptadi es paramètres, eth programa demane
 CONFIRMATZ ERA LIQUIDACION (S/N). Triatz ÒC damb era tèca S (er espai
 o es sagetes cambien entre NON e ÒC) e quichatz [Retorn] entà hèr era
 liquidacion. NON, o [Esc], torne ara pantalha de paramètres sense
 cambiar cap de donada.
 Acabada ua liquidacion, era pantalha de paramètres torne a gésser entà
 hèr-ne ua auta; [Esc] en prumèr camp ges deth programa.

# TÈCLES DERA PANTALHA
 [Retorn] [Aval]    Camp següent; en darrèr camp accepte era pantalha.
 [Amont]            Camp anterior.
 [RePàg] [AvPàg]    Prumèr camp, darrèr camp.
 [Inici] [Fin]      Començament e fin deth tèxte deth camp.
 [Esc]              Desfè çò qu'auetz escrit en camp e torne ath prumèr
                    camp; en prumèr camp, ges.
 [F1]               Aguesta ajuda. Laguens dera ajuda, [F1] mòstre era
                    ajuda generau deth menú.
 [F4]               Lista entà triar ua finca o un concèpte (vedetz mès
                    en jos).
 [Alt+C]            Calendari, des de quinsevolh camp.
 [Alt+X]            Calculadora, des de quinsevolh camp.
 Era linha 25 brembe es tècles principaus de cada pantalha.

# ES LISTES (F4)
 [Amont] [Aval] mòuen era barra; [RePàg] [AvPàg] passen pagina.
 [Esquèrra] [Dreta] desplacen eth tèxte de 8 en 8 se es linhes non i
 caben; ua punta de sageta en cornèr deth marc de naut, a esquèrra o a
 dreta, indique que per aqueth costat i a mès tèxte.
 [Retorn] trie era linha dera barra e n'escriu eth còdi en camp.
 [Esc] ges sense cambiar eth camp. Se era lista ei fòrça longa e tarde a
 gésser, [Esc] n'arreste era lectura.

# ETH CALENDARI (Alt+C)
 Mòstre un trimèstre a compdar dera data dera session.
 [Esquèrra] [Dreta] un dia, [Amont] [Aval] ua setmana, [RePàg] [AvPàg]
 tres mesi, [Inici] gèr e [Fin] deseme deth madeish an.
 [F] met era data triada en camp en lòc de çò que i auie; [Esc] ges
 sense cambiar arren.

# ERA CALCULADORA (Alt+X)
 Ua sumadora damb cinta de papèr: cada operacion demore escrita ena cinta.
 [0]...[9] e [.]    Entren eth numèro. [Recuelh] n'esborre era darrèra
                    chifra.
 [T]                Cambie eth signe deth numèro.
 [+] [-] [*] [/]    Òperen damb eth resultat acumulat.
 [=] o [Retorn]     Totau. Exemple: 12 + 30 = balhe 42.
 [%]                Percentatge: 200 + 10 % = balhe 220; 50 * 10 % = 5.
 [R]                Arredonís a dus decimaus.
 [C]                Esborre eth numèro; un dusau [C] ac esborre tot; un
                    tresau [C] vuede era cinta.
 [F]                Met eth resultat en camp en lòc de çò que i auie e
                    barre era calculadora. En un camp d'impòrt, en
                    centims (12,50 s'escriu 1250); en un camp de data, de
                    finca o de concèpte, eth numèro tau coma ei (42).
 [Esc]              Barre era calculadora sense escriuer arren.
 [Esquèrra] [Dreta] Mòuen era hièstra dera calculadora.
 Ua division per zèro mòstre ERROR: quichatz [C] entà tornar a començar.
 Era cinta se sauve: era pròpria còp era calculadora seguís a on ère.

# AGUESTA AJUDA
 [Amont] [Aval] linha a linha, [RePàg] [AvPàg] pagina a pagina, [Inici]
 en començament, [Fin] ena fin. [Esc] torne ath camp a on èretz.
"""

QOLAMENU_OCI = r"""
= AJUDA GENERAU DETH PROGRAMA D'ADMINISTRACION DE FINQUES

# ES PROGRAMES
 Cada opcion deth menú daurís un programa damb es sues pantalhes. Es
 donades son partatjades entre toti es ordenadors deth burèu: se un aute
 lòc de trabalh a ocupat un fichèr o un registre, eth programa ac avise
 en baish dera pantalha e demore qu'age liure.

# ES CAMPS
 Escrivetz era valor e quichatz [Retorn] entà passar ath camp següent.
 [Esquèrra] [Dreta] [Inici] [Fin]  Mòuen eth cursor en camp.
 [Ctrl+Esquèrra] [Ctrl+Dreta]      Paraula anteriora, següenta.
 [Ins]              Cambie entre inserir e sobrescriuer (cursor gròs).
 [Supr] [Recuelh]   Esborren un caractèr.
 [Ctrl+Y]           Esborre tot eth camp.
 [Ctrl+C] [Ctrl+V]  Còpien eth camp e i pegen un tèxte.
 [Alt] + numèro deth clavièr numeric: escriu eth caractèr d'aguest còdi.
 Enes camps damb opcions, era iniciau o er espai trien era opcion.
 Ua valor que non s'admet hè shiular eth programa, que ne ditz eth motiu
 ena linha 24 enquia era tèca següenta.

# TÈCLES DE TOTI ES PROGRAMES
 [F1]     Ajuda dera pantalha.         [Esc]    Desfè o ges.
 [F4]     Lista entà triar ua valor.   [Alt+C]  Calendari.
 [Alt+X]  Calculadora damb cinta.

# ES DATES E ES IMPÒRTS
 Es dates s'escriuen dia, mes e an: 15/5/23, 15.05.2023 o 150523.
 Es impòrts s'escriuen en centims, solament damb chifres: 12,50 ei 1250.
 Era calculadora ([Alt+X]) les i met atau damb era tèca [F]; en un camp
 de data o de còdi i met eth numèro tau coma ei.

# GÉSSER
 [Esc] en prumèr camp d'ua pantalha ges deth programa e torne ath menú.
"""

HELP = {
    "CAT": {"TARPELIX": TARPELIX_CAT, "QOLAMENU": QOLAMENU_CAT},
    "SPA": {"TARPELIX": TARPELIX_SPA, "QOLAMENU": QOLAMENU_SPA},
    "GLG": {"TARPELIX": TARPELIX_GLG, "QOLAMENU": QOLAMENU_GLG},
    "OCI": {"TARPELIX": TARPELIX_OCI, "QOLAMENU": QOLAMENU_OCI},
}

def keys_in_columns(text):
    """The line with its key names marked, the columns after them kept."""
    body, owed, i = "", 0, 0
    while i < len(text):
        c = text[i]
        if c in "[]":
            body += REVERSE
            owed += 1
            i += 1
        elif c == " " and text.startswith("  ", i) and owed:
            run = len(text[i:]) - len(text[i:].lstrip(" "))
            body += " " * (run + owed)
            owed = 0
            i += run
        else:
            body += c
            i += 1
    return body


def styled(text):
    """A line of the help text with its style codes, and its visible length."""
    if text.startswith("= "):
        body = BAR + " " + text[2:] + " " + BAR
    elif text.startswith("# "):
        body = BRIGHT + text[2:] + BRIGHT
    else:
        body = keys_in_columns(text)
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
    for language, topics in HELP.items():
        where = folder if language == "CAT" else os.path.join(folder, language)
        os.makedirs(where, exist_ok=True)
        for name, text in topics.items():
            with open(os.path.join(where, name + ".HLP"), "wb") as out:
                out.write(records(text))


if __name__ == "__main__":
    main()
