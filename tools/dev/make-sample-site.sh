#!/usr/bin/env bash
# Writes a small generated web site into the folder given as argument: nested folders, mixed-case names
# (published in lower case), an empty file and a picture, as a site builder would produce them.
set -euo pipefail
site=${1:?usage: make-sample-site.sh FOLDER}
mkdir -p "$site/Bilder/Icons" "$site/seiten"

page() { # file title body
  cat > "$1" <<HTML
<!DOCTYPE html>
<html lang="de"><head><meta charset="utf-8"><title>$2</title><link rel="stylesheet" href="/style.css"></head>
<body><h1>$2</h1><p>$3</p></body></html>
HTML
}
page "$site/index.html" "Willkommen" "Die Startseite des Vereins."
page "$site/seiten/Kontakt.html" "Kontakt" "So erreichen Sie uns."
page "$site/seiten/termine.html" "Termine" "Die nächsten Treffen."
printf 'body { font-family: sans-serif; }\nh1 { color: #004; }\n' > "$site/style.css"
: > "$site/seiten/leer.txt"
# A small picture with real binary content, to show that transfers are byte-exact.
head -c 4096 /dev/urandom > "$site/Bilder/Logo.PNG"
head -c 512 /dev/urandom > "$site/Bilder/Icons/pfeil.gif"
