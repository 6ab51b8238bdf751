<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>ExitStatus</name>
    <message>
        <source>  0  all fine: the service is alive and every listed printer is ready or printing
     without a condition (also when no printer is listed)
  1  the heartbeat or the printer list cannot be read (no permission, not a
     regular file, not a printer list, or no list while the service runs)
  2  wrong usage, or a queue name the printer list does not hold
  3  the service is not running: no heartbeat (no directory either), or one
     older than the alive limit
  4  a printer needs attention: an error or warning condition, no status, or
     unreachable
  5  --notify: no session bus, or no notification service on it
  6  --prometheus --output: the file cannot be written
</source>
        <translation>  0  alles in Ordnung: Der Dienst läuft, und jeder aufgeführte Drucker ist bereit oder
     druckt, ohne eine Meldung (auch wenn kein Drucker aufgeführt ist)
  1  das Lebenszeichen oder die Druckerliste ist nicht lesbar (keine Berechtigung, keine
     gewöhnliche Datei, keine Druckerliste, oder keine Liste, während der Dienst läuft)
  2  falscher Aufruf, oder ein Warteschlangenname, den die Druckerliste nicht enthält
  3  der Dienst läuft nicht: kein Lebenszeichen (auch kein Verzeichnis) oder eines,
     das älter als die Grenze ist
  4  ein Drucker braucht jemanden: eine Fehler- oder Warnmeldung, kein Status oder
     nicht erreichbar
  5  --notify: kein Sitzungsbus, oder kein Benachrichtigungsdienst darauf
  6  --prometheus --output: die Datei kann nicht geschrieben werden
</translation>
    </message>
</context>
<context>
    <name>NotifyMonitor</name>
    <message>
        <source>last heartbeat %1</source>
        <translation>letztes Lebenszeichen %1</translation>
    </message>
    <message>
        <source>no heartbeat</source>
        <translation>kein Lebenszeichen</translation>
    </message>
    <message>
        <source>heartbeat unreadable</source>
        <translation>Lebenszeichen nicht lesbar</translation>
    </message>
</context>
<context>
    <name>NotifyPolicy</name>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>Printing has stopped until this is dealt with.</source>
        <translation>Der Druck steht, bis das behoben ist.</translation>
    </message>
    <message>
        <source>The printer still prints.</source>
        <translation>Der Drucker druckt weiter.</translation>
    </message>
    <message>
        <source>Cleared: %1.</source>
        <translation>Behoben: %1.</translation>
    </message>
    <message>
        <source>%1: ready again</source>
        <translation>%1: wieder bereit</translation>
    </message>
    <message>
        <source>Printer status service running again</source>
        <translation>Druckerstatusdienst läuft wieder</translation>
    </message>
    <message>
        <source>Printer states are up to date again.</source>
        <translation>Die Druckerzustände sind wieder aktuell.</translation>
    </message>
    <message>
        <source>Printer status service not running</source>
        <translation>Druckerstatusdienst läuft nicht</translation>
    </message>
    <message>
        <source>Printer states are not updated (%1). An administrator can start it with: systemctl start orvo-statusd</source>
        <translation>Die Druckerzustände werden nicht aktualisiert (%1). Ein Administrator kann den Dienst so starten: systemctl start orvo-statusd</translation>
    </message>
</context>
<context>
    <name>NotifyWording</name>
    <message>
        <source>paper out</source>
        <translation>kein Papier</translation>
    </message>
    <message>
        <source>Paper out, code %1: load paper.</source>
        <translation>Kein Papier, Code %1: Papier einlegen.</translation>
    </message>
    <message>
        <source>paper jam</source>
        <translation>Papierstau</translation>
    </message>
    <message>
        <source>Paper jam, code %1: remove the jammed paper.</source>
        <translation>Papierstau, Code %1: das gestaute Papier entfernen.</translation>
    </message>
    <message>
        <source>cover open</source>
        <translation>Abdeckung offen</translation>
    </message>
    <message>
        <source>Cover open, code %1: close the printer&apos;s cover.</source>
        <translation>Abdeckung offen, Code %1: die Abdeckung des Druckers schließen.</translation>
    </message>
    <message>
        <source>toner empty</source>
        <translation>Toner leer</translation>
    </message>
    <message>
        <source>Toner empty, code %1: put in a new toner cartridge.</source>
        <translation>Toner leer, Code %1: eine neue Tonerkartusche einsetzen.</translation>
    </message>
    <message>
        <source>toner low</source>
        <translation>Toner fast leer</translation>
    </message>
    <message>
        <source>toner low, %1 % left</source>
        <translation>Toner fast leer, noch %1 %</translation>
    </message>
    <message>
        <source>Toner low, code %1: have a new toner cartridge at hand.</source>
        <translation>Toner fast leer, Code %1: eine neue Tonerkartusche bereithalten.</translation>
    </message>
    <message>
        <source>printer error</source>
        <translation>Druckerfehler</translation>
    </message>
    <message>
        <source>Another error, code %1: see the printer&apos;s panel.</source>
        <translation>Anderer Fehler, Code %1: siehe Bedienfeld des Druckers.</translation>
    </message>
    <message>
        <source>printer warning</source>
        <translation>Druckerwarnung</translation>
    </message>
    <message>
        <source>Another warning, code %1: see the printer&apos;s panel.</source>
        <translation>Andere Warnung, Code %1: siehe Bedienfeld des Druckers.</translation>
    </message>
    <message>
        <source>The printer reports an error without a code: see its panel.</source>
        <translation>Der Drucker meldet einen Fehler ohne Code: siehe sein Bedienfeld.</translation>
    </message>
    <message>
        <source>The printer reports a warning without a code: see its panel.</source>
        <translation>Der Drucker meldet eine Warnung ohne Code: siehe sein Bedienfeld.</translation>
    </message>
    <message>
        <source>unknown status</source>
        <translation>unbekannter Status</translation>
    </message>
    <message>
        <source>Status %1, which this program does not know: see the printer&apos;s panel.</source>
        <translation>Status %1, den dieses Programm nicht kennt: siehe Bedienfeld des Druckers.</translation>
    </message>
    <message>
        <source>not answering</source>
        <translation>antwortet nicht</translation>
    </message>
    <message>
        <source>Not answering: check that the printer is switched on and connected.</source>
        <translation>Antwortet nicht: Ist der Drucker eingeschaltet und verbunden?</translation>
    </message>
</context>
<context>
    <name>PrinterCondition</name>
    <message>
        <source>the service is not running</source>
        <translation>der Dienst läuft nicht</translation>
    </message>
    <message>
        <source>waiting for the first reply</source>
        <translation>wartet auf die erste Antwort</translation>
    </message>
    <message>
        <source>unreachable (not answering)</source>
        <translation>nicht erreichbar (antwortet nicht)</translation>
    </message>
    <message>
        <source>%1 (%2)</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>%1 - %2</source>
        <translation>%1 - %2</translation>
    </message>
    <message>
        <source>%1; toner %2 %</source>
        <translation>%1; Toner %2 %</translation>
    </message>
    <message>
        <source>unknown printer status %1</source>
        <translation>unbekannter Druckerstatus %1</translation>
    </message>
    <message>
        <source>not answering</source>
        <translation>antwortet nicht</translation>
    </message>
    <message>
        <source>printer error</source>
        <translation>Druckerfehler</translation>
    </message>
    <message>
        <source>printer warning</source>
        <translation>Druckerwarnung</translation>
    </message>
    <message>
        <source>paper out (%1)</source>
        <translation>kein Papier (%1)</translation>
    </message>
    <message>
        <source>paper jam (%1)</source>
        <translation>Papierstau (%1)</translation>
    </message>
    <message>
        <source>cover open (%1)</source>
        <translation>Abdeckung offen (%1)</translation>
    </message>
    <message>
        <source>toner empty (%1)</source>
        <translation>Toner leer (%1)</translation>
    </message>
    <message>
        <source>toner low (%1)</source>
        <translation>Toner fast leer (%1)</translation>
    </message>
    <message>
        <source>printer error %1</source>
        <translation>Druckerfehler %1</translation>
    </message>
    <message>
        <source>printer warning %1</source>
        <translation>Druckerwarnung %1</translation>
    </message>
    <message>
        <source>ready</source>
        <translation>bereit</translation>
    </message>
    <message>
        <source>printing</source>
        <translation>druckt</translation>
    </message>
    <message>
        <source>warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>no status</source>
        <translation>kein Status</translation>
    </message>
    <message>
        <source>unreachable</source>
        <translation>nicht erreichbar</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>unbekannt</translation>
    </message>
</context>
<context>
    <name>QCommandLineParser</name>
    <message>
        <source>Options:</source>
        <translation>Optionen:</translation>
    </message>
    <message>
        <source>Arguments:</source>
        <translation>Argumente:</translation>
    </message>
    <message>
        <source>Displays help on commandline options.</source>
        <translation>Zeigt die Hilfe zu den Befehlszeilenoptionen.</translation>
    </message>
    <message>
        <source>Displays help including Qt specific options.</source>
        <translation>Zeigt die Hilfe samt den Qt-eigenen Optionen.</translation>
    </message>
</context>
<context>
    <name>SkippedQueueFinder</name>
    <message>
        <source>cannot look at the CUPS queues in %1: %2</source>
        <translation>kann die CUPS-Warteschlangen in %1 nicht ansehen: %2</translation>
    </message>
    <message>
        <source>not in the printer list (not a USB or network queue, or made since the service last looked)</source>
        <translation>nicht in der Druckerliste (keine USB- oder Netzwerk-Warteschlange, oder angelegt, nachdem der Dienst zuletzt nachgesehen hat)</translation>
    </message>
    <message>
        <source>cannot read every PPD in %1: run as root to see all queues the service skips</source>
        <translation>kann nicht jede PPD in %1 lesen: als root aufrufen, um alle vom Dienst übergangenen Warteschlangen zu sehen</translation>
    </message>
</context>
<context>
    <name>StatusChanges</name>
    <message>
        <source>unreadable (%1)</source>
        <translation>nicht lesbar (%1)</translation>
    </message>
    <message>
        <source>read</source>
        <translation>gelesen</translation>
    </message>
    <message>
        <source>service</source>
        <translation>Dienst</translation>
    </message>
    <message>
        <source>printer list</source>
        <translation>Druckerliste</translation>
    </message>
    <message>
        <source>%1 service: %2</source>
        <translation>%1 Dienst: %2</translation>
    </message>
    <message>
        <source>listed, %1</source>
        <translation>aufgeführt, %1</translation>
    </message>
    <message>
        <source>no longer listed</source>
        <translation>nicht mehr aufgeführt</translation>
    </message>
    <message>
        <source>%1 -&gt; %2</source>
        <translation>%1 -&gt; %2</translation>
    </message>
    <message>
        <source>%1 %2: %3</source>
        <translation>%1 %2: %3</translation>
    </message>
</context>
<context>
    <name>StatusFormatter</name>
    <message>
        <source>Directory: %1</source>
        <translation>Verzeichnis:  %1</translation>
    </message>
    <message>
        <source>Service:   %1</source>
        <translation>Dienst:       %1</translation>
    </message>
    <message>
        <source>Printers:  unknown (%1)</source>
        <translation>Drucker:      unbekannt (%1)</translation>
    </message>
    <message>
        <source>Printers:  none listed</source>
        <translation>Drucker:      keiner aufgeführt</translation>
    </message>
    <message>
        <source>Printers:  %1</source>
        <translation>Drucker:      %1</translation>
    </message>
    <message>
        <source>Warning:   %1</source>
        <translation>Warnung:      %1</translation>
    </message>
    <message>
        <source>Skipped:   %1</source>
        <translation>Übergangen:   %1</translation>
    </message>
    <message>
        <source>%1 - %2</source>
        <translation>%1 - %2</translation>
    </message>
    <message>
        <source>%1 - heartbeat %2</source>
        <translation>%1 - Lebenszeichen %2</translation>
    </message>
    <message>
        <source>%1 - last heartbeat %2, ahead of this machine&apos;s clock; the service is not running</source>
        <translation>%1 - letztes Lebenszeichen %2, der Uhr dieses Rechners voraus; der Dienst läuft nicht</translation>
    </message>
    <message>
        <source>%1 - last heartbeat %2 (%3): the clock is far off, or the service has not run for a long time</source>
        <translation>%1 - letztes Lebenszeichen %2 (%3): Die Uhr geht weit falsch, oder der Dienst lief lange nicht</translation>
    </message>
    <message>
        <source>%1 - last heartbeat %2; the service is not running</source>
        <translation>%1 - letztes Lebenszeichen %2; der Dienst läuft nicht</translation>
    </message>
    <message>
        <source>in %1 s</source>
        <translation>in %1 s</translation>
    </message>
    <message>
        <source>%1 s ago</source>
        <translation>vor %1 s</translation>
    </message>
    <message>
        <source>in %1 min</source>
        <translation>in %1 min</translation>
    </message>
    <message>
        <source>%1 min ago</source>
        <translation>vor %1 min</translation>
    </message>
    <message>
        <source>in %1 h</source>
        <translation>in %1 h</translation>
    </message>
    <message>
        <source>%1 h ago</source>
        <translation>vor %1 h</translation>
    </message>
    <message>
        <source>in %1 days</source>
        <translation>in %1 Tagen</translation>
    </message>
    <message>
        <source>%1 days ago</source>
        <translation>vor %1 Tagen</translation>
    </message>
    <message>
        <source>in %1 years</source>
        <translation>in %1 Jahren</translation>
    </message>
    <message>
        <source>%1 years ago</source>
        <translation>vor %1 Jahren</translation>
    </message>
    <message>
        <source>Queue</source>
        <translation>Warteschlange</translation>
    </message>
    <message>
        <source>Model</source>
        <translation>Modell</translation>
    </message>
    <message>
        <source>Connection</source>
        <translation>Verbindung</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Anschluss</translation>
    </message>
    <message>
        <source>URI</source>
        <translation>URI</translation>
    </message>
    <message>
        <source>%1, %2 bytes</source>
        <translation>%1, %2 Bytes</translation>
    </message>
    <message>
        <source>Status file</source>
        <translation>Statusdatei</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Status text</source>
        <translation>Statustext</translation>
    </message>
    <message>
        <source>Info 1</source>
        <translation>Info 1</translation>
    </message>
    <message>
        <source>Info 2</source>
        <translation>Info 2</translation>
    </message>
    <message>
        <source>Info 3</source>
        <translation>Info 3</translation>
    </message>
    <message>
        <source>Errors 1</source>
        <translation>Fehler 1</translation>
    </message>
    <message>
        <source>Errors 2</source>
        <translation>Fehler 2</translation>
    </message>
    <message>
        <source>Supplies text</source>
        <translation>Materialtext</translation>
    </message>
    <message>
        <source>Toner type</source>
        <translation>Tonertyp</translation>
    </message>
    <message>
        <source>Supplies</source>
        <translation>Material</translation>
    </message>
    <message>
        <source>none</source>
        <translation>keine</translation>
    </message>
    <message>
        <source>alive</source>
        <translation>läuft</translation>
    </message>
    <message>
        <source>stale</source>
        <translation>veraltet</translation>
    </message>
    <message>
        <source>not running</source>
        <translation>läuft nicht</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>unbekannt</translation>
    </message>
    <message>
        <source>network</source>
        <translation>Netzwerk</translation>
    </message>
</context>
<context>
    <name>StatusReader</name>
    <message>
        <source>it is a directory</source>
        <translation>es ist ein Verzeichnis</translation>
    </message>
    <message>
        <source>not a regular file</source>
        <translation>keine gewöhnliche Datei</translation>
    </message>
    <message>
        <source>nothing written</source>
        <translation>nichts geschrieben</translation>
    </message>
    <message>
        <source>%1 does not lead to it (is /proc mounted?)</source>
        <translation>%1 führt nicht dorthin (ist /proc eingehängt?)</translation>
    </message>
    <message>
        <source>1 byte</source>
        <translation>1 Byte</translation>
    </message>
    <message>
        <source>%1 bytes</source>
        <translation>%1 Bytes</translation>
    </message>
    <message>
        <source>%1 is not a directory</source>
        <translation>%1 ist kein Verzeichnis</translation>
    </message>
    <message>
        <source>directory %1 does not exist</source>
        <translation>Verzeichnis %1 gibt es nicht</translation>
    </message>
    <message>
        <source>no heartbeat file</source>
        <translation>keine Lebenszeichen-Datei</translation>
    </message>
    <message>
        <source>no printer list (%1 missing)</source>
        <translation>keine Druckerliste (%1 fehlt)</translation>
    </message>
    <message>
        <source>cannot read %1: %2</source>
        <translation>kann %1 nicht lesen: %2</translation>
    </message>
    <message>
        <source>%1 is too large to be a printer list (%2)</source>
        <translation>%1 ist zu groß für eine Druckerliste (%2)</translation>
    </message>
    <message>
        <source>%1 is empty: no printers listed</source>
        <translation>%1 ist leer: keine Drucker aufgeführt</translation>
    </message>
    <message>
        <source>%1 is not an INI file (binary content)</source>
        <translation>%1 ist keine INI-Datei (binärer Inhalt)</translation>
    </message>
    <message>
        <source>cannot copy %1 into memory: %2</source>
        <translation>kann %1 nicht in den Speicher kopieren: %2</translation>
    </message>
    <message>
        <source>%1 is not an INI file</source>
        <translation>%1 ist keine INI-Datei</translation>
    </message>
    <message>
        <source>%1 is not a printer list: no %2 in [%3]</source>
        <translation>%1 ist keine Druckerliste: kein %2 in [%3]</translation>
    </message>
    <message>
        <source>%1 has an unusable %2 &quot;%3&quot;</source>
        <translation>%1 hat ein unbrauchbares %2 „%3“</translation>
    </message>
    <message>
        <source>%1 and %2 more</source>
        <translation>%1 und %2 weitere</translation>
    </message>
    <message>
        <source>Count is %1 but %2 of its sections is missing: %3</source>
        <translation>Count ist %1, aber %2 seiner Abschnitte fehlt: %3</translation>
    </message>
    <message>
        <source>Count is %1 but %2 of its sections are missing: %3</source>
        <translation>Count ist %1, aber %2 seiner Abschnitte fehlen: %3</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>unbekannt</translation>
    </message>
    <message>
        <source>the section has no queue name</source>
        <translation>der Abschnitt hat keinen Warteschlangennamen</translation>
    </message>
    <message>
        <source>the queue name cannot name a status file</source>
        <translation>der Warteschlangenname taugt nicht als Name einer Statusdatei</translation>
    </message>
    <message>
        <source>no status file</source>
        <translation>keine Statusdatei</translation>
    </message>
    <message>
        <source>unknown: the status file holds no complete reply</source>
        <translation>unbekannt: Die Statusdatei enthält keine vollständige Antwort</translation>
    </message>
    <message>
        <source>status file is empty (no reply: USB time-out)</source>
        <translation>Statusdatei ist leer (keine Antwort: USB-Zeitüberschreitung)</translation>
    </message>
    <message>
        <source>not a status reply: %1, more than any reply holds</source>
        <translation>keine Statusantwort: %1, mehr als jede Antwort enthält</translation>
    </message>
    <message>
        <source>no reply: USB transfer failed, %1 zero bytes</source>
        <translation>keine Antwort: USB-Übertragung fehlgeschlagen, %1 Null-Bytes</translation>
    </message>
    <message>
        <source>reply truncated, %1</source>
        <translation>Antwort abgeschnitten, %1</translation>
    </message>
    <message>
        <source>not a status reply (%1 whose lengths run past any reply)</source>
        <translation>keine Statusantwort (%1, deren Längenangaben über jede Antwort hinausreichen)</translation>
    </message>
    <message>
        <source>no status</source>
        <translation>kein Status</translation>
    </message>
    <message>
        <source>unknown printer status code %1</source>
        <translation>unbekannter Druckerstatuscode %1</translation>
    </message>
    <message>
        <source>printer status code %1</source>
        <translation>Druckerstatuscode %1</translation>
    </message>
    <message>
        <source>heartbeat file is empty</source>
        <translation>Lebenszeichen-Datei ist leer</translation>
    </message>
    <message>
        <source>heartbeat file holds no time stamp</source>
        <translation>Lebenszeichen-Datei enthält keinen Zeitstempel</translation>
    </message>
</context>
<context>
    <name>orvo-status</name>
    <message>
        <source>Print the version and exit.</source>
        <translation>Die Version ausgeben und beenden.</translation>
    </message>
    <message>
        <source>Read the files from &lt;dir&gt; instead.</source>
        <translation>Die Dateien stattdessen aus &lt;dir&gt; lesen.</translation>
    </message>
    <message>
        <source>Print JSON (states, conditions, supplies and the raw fields).</source>
        <translation>JSON ausgeben (Zustände, Meldungen, Verbrauchsmaterial und die Rohfelder).</translation>
    </message>
    <message>
        <source>Also show the directory, queues the service skips and each reply&apos;s raw fields.</source>
        <translation>Auch das Verzeichnis, die vom Dienst übergangenen Warteschlangen und die Rohfelder jeder Antwort zeigen.</translation>
    </message>
    <message>
        <source>Keep running and show every change.</source>
        <translation>Weiterlaufen und jede Änderung zeigen.</translation>
    </message>
    <message>
        <source>With --watch: stop after &lt;n&gt; snapshots (the first one included).</source>
        <translation>Mit --watch: nach &lt;n&gt; Ständen aufhören (den ersten mitgezählt).</translation>
    </message>
    <message>
        <source>Keep running in the desktop session and show a notification when a printer needs someone and when that clears; exit status 5 without a session bus or notification service.</source>
        <translation>In der Desktop-Sitzung weiterlaufen und eine Benachrichtigung zeigen, wenn ein Drucker jemanden braucht und wenn das behoben ist; Exit-Status 5 ohne Sitzungsbus oder Benachrichtigungsdienst.</translation>
    </message>
    <message>
        <source>Print the state in the Prometheus text format.</source>
        <translation>Den Zustand im Textformat von Prometheus ausgeben.</translation>
    </message>
    <message>
        <source>With --prometheus: replace &lt;file&gt; in one step instead of printing; exit status 6 when it cannot be written.</source>
        <translation>Mit --prometheus: &lt;file&gt; in einem Schritt ersetzen statt auszugeben; Exit-Status 6, wenn die Datei nicht geschrieben werden kann.</translation>
    </message>
    <message>
        <source>%1: nothing to read in %2: %3; %4
</source>
        <translation>%1: nichts zu lesen in %2: %3; %4
</translation>
    </message>
    <message>
        <source>Shows the Orvo printer status service and its printers: one line per printer with its
state (ready, printing, warning, error, no status, unreachable, or unknown while the
service is not running), the conditions the printer reports and its toner level.
Queue names given, only those printers are shown and count for the exit status.

Reads printerlist.ini, service.hb and &lt;queue&gt;.dat from the service&apos;s cfg directory
  %1
and never writes there. The service counts as alive while its heartbeat is younger
than %2 s.

--watch on a terminal redraws the view every second; piped, it prints the state once
and then one line per change (&quot;12:03:38 Office: ready -&gt; paper out (0x1106)&quot;); with
--json, one compact object per change.

Exit status:
%3With --watch --count N the exit status is that of the last snapshot read; --watch and
--notify stopped by SIGTERM or SIGINT (Ctrl-C) end with 0.</source>
        <translation>Zeigt den Orvo-Druckerstatusdienst und seine Drucker: eine Zeile je Drucker mit seinem
Zustand (bereit, druckt, Warnung, Fehler, kein Status, nicht erreichbar, oder unbekannt,
solange der Dienst nicht läuft), den Meldungen des Druckers und seinem Tonerstand.
Mit Warteschlangennamen werden nur diese Drucker gezeigt und zählen für den Exit-Status.

Liest printerlist.ini, service.hb und &lt;Warteschlange&gt;.dat aus dem cfg-Verzeichnis
des Dienstes
  %1
und schreibt nie dorthin. Der Dienst gilt als laufend, solange sein Lebenszeichen jünger
als %2 s ist.

--watch zeichnet die Ansicht auf einem Terminal jede Sekunde neu; in eine Pipe gibt es den
Zustand einmal aus und dann eine Zeile je Änderung („12:03:38 Office: bereit -&gt; kein Papier
(0x1106)“); mit --json ein kompaktes Objekt je Änderung.

Exit-Status:
%3Mit --watch --count N ist der Exit-Status der des zuletzt gelesenen Stands; --watch und
--notify enden mit 0, wenn SIGTERM oder SIGINT (Strg-C) sie beenden.</translation>
    </message>
    <message>
        <source>Show only these printers, by CUPS queue name.</source>
        <translation>Nur diese Drucker zeigen, nach dem Namen ihrer CUPS-Warteschlange.</translation>
    </message>
    <message>
        <source>Usage: %1 [options] [queue...]</source>
        <translation>Aufruf: %1 [Optionen] [Warteschlange...]</translation>
    </message>
</context>
</TS>
