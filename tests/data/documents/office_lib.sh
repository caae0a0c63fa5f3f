# Shared by the document fixture scripts: a scratch folder with in/ and out/,
# removed on exit, and a private LibreOffice profile (soffice keeps one below
# $HOME and refuses to run two instances on one).
office_workspace() {
    work="$(mktemp -d)"
    trap 'rm -rf "$work"' EXIT
    export HOME="$work/home" TZ=UTC
    mkdir -p "$HOME" "$work/in" "$work/out"
}
