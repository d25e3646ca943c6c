#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes StringTable.txt, the language texts of ZeltoSoft, from the table below.

Edit the texts here and run this script (python3 data/make_string_table.py); it writes the
file beside itself as Windows-1252 bytes with CR LF line ends, the form the program reads.
With --check it only compares the file on disk with what it would write and exits 1 when they
differ.

Each entry is a block: the header line "#STRING n", then the Italian line, then the English
line. The program stores the line whose position under the header equals the language index,
exactly as written, so no blank lines or comments may appear anywhere in the file.

The caption labels of the radar window (57-62) are about 1.1 inch wide at 8 pt: keep them
within about 18 characters.
"""

import sys
from pathlib import Path

# entry: (Italian, English)
ENTRIES = {
    # High-traffic mode list: entry 1 is the first item, entry 0 the second.
    0: ("Attivato", "On"),
    1: ("Disattivato", "Off"),
    # Menus; "&" marks the access key.
    11: ("&Esci", "&Exit"),
    12: ("&Lingua", "&Language"),
    13: ("&Italiano", "&Italian"),
    14: ("I&nglese", "&English"),
    # Programmer status (main window).
    20: ("Programmatore collegato", "Programmer connected"),
    21: ("Errore del driver USB", "USB driver failure"),
    22: ("Programmatore non trovato", "No programmer found"),
    23: ("Più di un programmatore collegato", "More than one programmer found"),
    # Device status (main window). 31 is followed by two spaces and 33.
    30: ("Nessun dispositivo risponde", "No device answering"),
    31: ("Sensore collegato:", "Sensor connected:"),
    32: ("Dispositivo non supportato", "Unsupported device"),
    33: ("Duroz740", "Duroz740"),
    # Mains-noise filter list: first item, before "50 Hz" and "60 Hz".
    50: ("Disattivato", "Off"),
    # Reaction-speed list.
    51: ("Lenta", "Slow"),
    52: ("Normale", "Normal"),
    53: ("Veloce", "Fast"),
    # Installation-height list.
    54: ("2,30 m", "2.30 m"),
    55: ("2,90 m", "2.90 m"),
    56: ("3,50 m", "3.50 m"),
    # Caption labels and frame of the radar window. 62 is also followed by ":  2.30 m" etc.
    57: ("Sensibilità", "Sensitivity"),
    58: ("Tempo ON relè [s]", "Relay ON time [s]"),
    59: ("Reattività", "Reaction speed"),
    60: ("Filtro disturbi rete", "Mains noise filter"),
    61: ("Modo alto traffico", "High-traffic mode"),
    62: ("Altezza di posa", "Installation height"),
    63: ("SEGNALE", "SIGNAL"),
    64: ("Parametri", "Parameters"),
    # Signal history window (radar window menu, its own window).
    120: ("&Storico segnale", "Signal &history"),
    121: ("Storico del segnale", "Signal history"),
    122: ("&Intervallo:", "&Range:"),
    123: ("30 s", "30 s"),
    124: ("60 s", "60 s"),
    125: ("5 min", "5 min"),
    126: ("Sessione intera", "Whole session"),
    127: ("Salva &PNG...", "Save &PNG..."),
    128: ("Salva C&SV...", "Save C&SV..."),
    129: ("Livello", "Level"),
    130: ("Picco", "Peak"),
    131: ("Rilevamento", "Detection"),
    132: ("Nessun segnale", "No reports"),
    133: ("Modifica parametri", "Parameter change"),
    134: ("Immagine PNG (*.png)", "PNG image (*.png)"),
    135: ("File CSV (*.csv)", "CSV file (*.csv)"),
    136: ("Impossibile salvare il file", "Cannot save the file"),
    # Names for screen readers of the radar window's controls without a caption.
    137: ("LED di rilevamento", "Detection LED"),
    138: ("Livello del segnale", "Signal level"),
    139: ("Picco del segnale", "Signal peak"),
    140: ("Area di rilevamento", "Detection area"),
    141: ("Identificazione del sensore", "Sensor identification"),
    142: ("Grafico del segnale: livello, picco, rilevamenti, modifiche dei parametri e "
          "interruzioni", "Signal chart: level, peak, detections, parameter changes and gaps"),
    143: ("&Chiudi", "&Close"),
    # zeltoctl's walk test report and commissioning page.
    150: ("Rapporto della prova di camminata", "Walk test report"),
    152: ("Numero di serie", "Serial number"),
    153: ("Versione hardware", "Hardware version"),
    154: ("Versione firmware", "Firmware version"),
    156: ("Data e ora (UTC)", "Date and time (UTC)"),
    157: ("Ora locale", "Local time"),
    158: ("Durata", "Duration"),
    159: ("Parametri all'inizio", "Parameters at the start"),
    160: ("Parametri alla fine", "Parameters at the end"),
    163: ("Note", "Notes"),
    164: ("Andamento del segnale", "Signal over time"),
    165: ("Riepilogo", "Summary"),
    166: ("Rilevamenti", "Detections"),
    167: ("Rilevamento più lungo", "Longest detection"),
    168: ("Livello massimo", "Peak level"),
    169: ("Tempo senza segnale", "Time without reports"),
    170: ("Rapporto di messa in servizio", "Commissioning report"),
    171: ("Sensori programmati", "Sensors provisioned"),
    172: ("Verificato", "Verified"),
    173: ("Sì", "Yes"),
    174: ("No", "No"),
    175: ("Prove di camminata", "Walk tests"),
    176: ("Ora (UTC)", "Time (UTC)"),
    177: ("Esito", "Result"),
    179: ("Nessuna prova di camminata registrata", "No walk test recorded"),
    180: ("Parametri cambiati durante la prova", "Parameters changed during the test"),
    # zeltoctl station on a terminal: a slot's state and step, its last outcome, the summary
    # (%1 units, %2 the time, %3 units per hour).
    181: ("apertura", "opening"),
    182: ("occupato da un altro programma", "held by another program"),
    183: ("programmatore assente", "programmer gone"),
    184: ("in attesa di un sensore", "waiting for a sensor"),
    185: ("al lavoro", "working"),
    186: ("togliere il sensore", "take the sensor out"),
    187: ("FUORI SERVIZIO (ricollegare il programmatore)", "OUT OF SERVICE (replug its programmer)"),
    188: ("lettura", "reading"),
    189: ("scrittura", "writing"),
    190: ("rilettura", "reading back"),
    191: ("nuovo tentativo", "retrying"),
    192: ("ultimo:", "last:"),
    193: ("%1 unità in %2, %3 unità all'ora", "%1 unit(s) in %2, %3 units per hour"),
    194: ("fuori servizio", "out of service"),
}


def build() -> bytes:
    lines = []
    for number in sorted(ENTRIES):
        if not 0 <= number <= 200:
            raise ValueError(f"entry {number} is outside 0..200")
        lines.append(f"#STRING {number}")
        for text in ENTRIES[number]:
            if "\r" in text or "\n" in text:
                raise ValueError(f"entry {number}: a text must be one line: {text!r}")
            if text.startswith("#STRING"):
                raise ValueError(f"entry {number}: a text must not look like a header")
            lines.append(text)
    # encode() raises on a character Windows-1252 cannot hold.
    return "".join(line + "\r\n" for line in lines).encode("cp1252")


def main() -> int:
    target = Path(__file__).resolve().with_name("StringTable.txt")
    data = build()
    if "--check" in sys.argv[1:]:
        if not target.exists() or target.read_bytes() != data:
            print(f"{target} is out of date; run {Path(__file__).name}", file=sys.stderr)
            return 1
        return 0
    target.write_bytes(data)
    print(f"wrote {target} ({len(ENTRIES)} entries, {len(data)} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
