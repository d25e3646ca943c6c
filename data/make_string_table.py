#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes StringTable.txt, the language texts of ZeltoSoft, from the table below.

Edit the texts here and run this script (python3 data/make_string_table.py); it writes the
file beside itself as Windows-1252 bytes with CR LF line ends, the form the program reads, and
core/text/text_id.h, the name the code uses for each entry (Text::kNoProgrammer for 22).
With --check it only compares both files on disk with what it would write and exits 1 when
they differ.

Each entry is a block: the header line "#STRING n", then the Italian line, then the English
line. The program stores the line whose position under the header equals the language index,
exactly as written, so no blank lines or comments may appear anywhere in the file.

The caption labels of the radar window (57-62) are about 1.1 inch wide at 8 pt: keep them
within about 18 characters.
"""

import sys
from pathlib import Path

# entry: (name in the code, Italian, English)
ENTRIES = {
    # High-traffic mode list: entry 1 is the first item, entry 0 the second.
    0: ("kOn", "Attivato", "On"),
    1: ("kOff", "Disattivato", "Off"),
    # Menus; "&" marks the access key.
    11: ("kExitMenu", "&Esci", "&Exit"),
    12: ("kLanguageMenu", "&Lingua", "&Language"),
    13: ("kItalianMenu", "&Italiano", "&Italian"),
    14: ("kEnglishMenu", "I&nglese", "&English"),
    # Programmer status (main window).
    20: ("kProgrammerConnected", "Programmatore collegato", "Programmer connected"),
    21: ("kDriverFailure", "Errore del driver USB", "USB driver failure"),
    22: ("kNoProgrammer", "Programmatore non trovato", "No programmer found"),
    23: ("kManyProgrammers", "Più di un programmatore collegato", "More than one programmer found"),
    # Device status (main window). 31 is followed by two spaces and 33.
    30: ("kNoDeviceAnswering", "Nessun dispositivo risponde", "No device answering"),
    31: ("kSensorConnected", "Sensore collegato:", "Sensor connected:"),
    32: ("kUnsupportedDevice", "Dispositivo non supportato", "Unsupported device"),
    33: ("kDuroz740", "Duroz740", "Duroz740"),
    # Mains-noise filter list: first item, before "50 Hz" and "60 Hz".
    50: ("kFilterOff", "Disattivato", "Off"),
    # Reaction-speed list.
    51: ("kSpeedSlow", "Lenta", "Slow"),
    52: ("kSpeedNormal", "Normale", "Normal"),
    53: ("kSpeedFast", "Veloce", "Fast"),
    # Installation-height list.
    54: ("kHeight230", "2,30 m", "2.30 m"),
    55: ("kHeight290", "2,90 m", "2.90 m"),
    56: ("kHeight350", "3,50 m", "3.50 m"),
    # Caption labels and frame of the radar window. 62 is also followed by ":  2.30 m" etc.
    57: ("kSensitivityCaption", "Sensibilità", "Sensitivity"),
    58: ("kRelayTimeCaption", "Tempo ON relè [s]", "Relay ON time [s]"),
    59: ("kReactionSpeedCaption", "Reattività", "Reaction speed"),
    60: ("kMainsFilterCaption", "Filtro disturbi rete", "Mains noise filter"),
    61: ("kHighTrafficModeCaption", "Modo alto traffico", "High-traffic mode"),
    62: ("kHeightCaption", "Altezza di posa", "Installation height"),
    63: ("kSignalCaption", "SEGNALE", "SIGNAL"),
    64: ("kParametersCaption", "Parametri", "Parameters"),
    # Signal history window (radar window menu, its own window).
    120: ("kHistoryMenu", "&Storico segnale", "Signal &history"),
    121: ("kHistoryTitle", "Storico del segnale", "Signal history"),
    122: ("kRangeLabel", "&Intervallo:", "&Range:"),
    123: ("kRange30s", "30 s", "30 s"),
    124: ("kRange60s", "60 s", "60 s"),
    125: ("kRange5min", "5 min", "5 min"),
    126: ("kRangeWholeSession", "Sessione intera", "Whole session"),
    127: ("kSavePng", "Salva &PNG...", "Save &PNG..."),
    128: ("kSaveCsv", "Salva C&SV...", "Save C&SV..."),
    129: ("kLevelLegend", "Livello", "Level"),
    130: ("kPeakLegend", "Picco", "Peak"),
    131: ("kDetectionLegend", "Rilevamento", "Detection"),
    132: ("kNoReports", "Nessun segnale", "No reports"),
    133: ("kParameterChange", "Modifica parametri", "Parameter change"),
    134: ("kPngFilter", "Immagine PNG (*.png)", "PNG image (*.png)"),
    135: ("kCsvFilter", "File CSV (*.csv)", "CSV file (*.csv)"),
    136: ("kCannotSave", "Impossibile salvare il file", "Cannot save the file"),
    # Names for screen readers of the radar window's controls without a caption.
    137: ("kDetectionLedName", "LED di rilevamento", "Detection LED"),
    138: ("kSignalLevelName", "Livello del segnale", "Signal level"),
    139: ("kSignalPeakName", "Picco del segnale", "Signal peak"),
    140: ("kDetectionAreaName", "Area di rilevamento", "Detection area"),
    141: ("kIdentificationName", "Identificazione del sensore", "Sensor identification"),
    142: ("kChartName", "Grafico del segnale: livello, picco, rilevamenti, modifiche dei parametri e "
          "interruzioni", "Signal chart: level, peak, detections, parameter changes and gaps"),
    143: ("kCloseButton", "&Chiudi", "&Close"),
    # zeltoctl's walk test report and commissioning page.
    150: ("kWalkTestReport", "Rapporto della prova di camminata", "Walk test report"),
    152: ("kSerialNumber", "Numero di serie", "Serial number"),
    153: ("kHardwareVersion", "Versione hardware", "Hardware version"),
    154: ("kFirmwareVersion", "Versione firmware", "Firmware version"),
    156: ("kDateTimeUtc", "Data e ora (UTC)", "Date and time (UTC)"),
    157: ("kLocalTime", "Ora locale", "Local time"),
    158: ("kDuration", "Durata", "Duration"),
    159: ("kParametersAtStart", "Parametri all'inizio", "Parameters at the start"),
    160: ("kParametersAtEnd", "Parametri alla fine", "Parameters at the end"),
    163: ("kNotes", "Note", "Notes"),
    164: ("kSignalOverTime", "Andamento del segnale", "Signal over time"),
    165: ("kSummary", "Riepilogo", "Summary"),
    166: ("kDetections", "Rilevamenti", "Detections"),
    167: ("kLongestDetection", "Rilevamento più lungo", "Longest detection"),
    168: ("kPeakLevel", "Livello massimo", "Peak level"),
    169: ("kTimeWithoutReports", "Tempo senza segnale", "Time without reports"),
    170: ("kCommissioningReport", "Rapporto di messa in servizio", "Commissioning report"),
    171: ("kSensorsProvisioned", "Sensori programmati", "Sensors provisioned"),
    172: ("kVerified", "Verificato", "Verified"),
    173: ("kYes", "Sì", "Yes"),
    174: ("kNo", "No", "No"),
    175: ("kWalkTests", "Prove di camminata", "Walk tests"),
    176: ("kTimeUtc", "Ora (UTC)", "Time (UTC)"),
    177: ("kResult", "Esito", "Result"),
    179: ("kNoWalkTest", "Nessuna prova di camminata registrata", "No walk test recorded"),
    180: ("kParametersChanged", "Parametri cambiati durante la prova", "Parameters changed during the test"),
    # zeltoctl station on a terminal: a slot's state (in SlotState's order from 181) and the
    # step of its unit, its last outcome, the summary (%1 units, %2 the time, %3 per hour).
    181: ("kSlotOpening", "apertura", "opening"),
    182: ("kSlotHeld", "occupato da un altro programma", "held by another program"),
    183: ("kSlotGone", "programmatore assente", "programmer gone"),
    184: ("kSlotWaiting", "in attesa di un sensore", "waiting for a sensor"),
    185: ("kSlotWorking", "al lavoro", "working"),
    186: ("kSlotRemove", "togliere il sensore", "take the sensor out"),
    187: ("kSlotOutOfService", "FUORI SERVIZIO (ricollegare il programmatore)",
          "OUT OF SERVICE (replug its programmer)"),
    188: ("kStepReading", "lettura", "reading"),
    189: ("kStepWriting", "scrittura", "writing"),
    190: ("kStepReadingBack", "rilettura", "reading back"),
    191: ("kStepRetrying", "nuovo tentativo", "retrying"),
    192: ("kSlotLastOutcome", "ultimo:", "last:"),
    193: ("kStationSummary", "%1 unità in %2, %3 unità all'ora", "%1 unit(s) in %2, %3 units per hour"),
    194: ("kOutOfService", "fuori servizio", "out of service"),
}


def build() -> bytes:
    lines = []
    for number in sorted(ENTRIES):
        if not 0 <= number <= 200:
            raise ValueError(f"entry {number} is outside 0..200")
        lines.append(f"#STRING {number}")
        for text in ENTRIES[number][1:]:
            if "\r" in text or "\n" in text:
                raise ValueError(f"entry {number}: a text must be one line: {text!r}")
            if text.startswith("#STRING"):
                raise ValueError(f"entry {number}: a text must not look like a header")
            lines.append(text)
    # encode() raises on a character Windows-1252 cannot hold.
    return "".join(line + "\r\n" for line in lines).encode("cp1252")


def build_header() -> bytes:
    names = [ENTRIES[number][0] for number in sorted(ENTRIES)]
    for name in names:
        if not name.startswith("k") or not name.isidentifier():
            raise ValueError(f"{name!r} is not a constant's name")
    if len(set(names)) != len(names):
        raise ValueError("two entries have the same name")
    rows = "".join(f"    {ENTRIES[n][0]} = {n},\n" for n in sorted(ENTRIES))
    return (
        "// SPDX-License-Identifier: MIT\n"
        "// Written by data/make_string_table.py from its table; edit the table, not this file.\n"
        "// The string table's entries by name: the code says Text::kNoProgrammer where the file\n"
        "// says #STRING 22.\n"
        "#pragma once\n\n"
        "namespace zelto {\n\n"
        "struct Text {\n"
        "  enum Id : int {\n"
        f"{rows}"
        "  };\n"
        "};\n\n"
        "}  // namespace zelto\n"
    ).encode("ascii")


def main() -> int:
    here = Path(__file__).resolve()
    outputs = [
        (here.with_name("StringTable.txt"), build()),
        (here.parent.parent / "core" / "text" / "text_id.h", build_header()),
    ]
    if "--check" in sys.argv[1:]:
        stale = [t for t, data in outputs if not t.exists() or t.read_bytes() != data]
        for target in stale:
            print(f"{target} is out of date; run {here.name}", file=sys.stderr)
        return 1 if stale else 0
    for target, data in outputs:
        target.write_bytes(data)
        print(f"wrote {target} ({len(ENTRIES)} entries, {len(data)} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
