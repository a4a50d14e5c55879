# Mozilla User Preferences
// This is a generated file! Do not edit while the browser runs.
// The proxy lines at the end are in the form the Sundry library writes them.
user_pref("browser.download.dir", "/home/chris/Downloads");
user_pref("browser.startup.homepage", "http://www.example.com/start");
user_pref("mail.identity.id1.fullName", "Chris \"CJ\" Example");
user_pref("network.cookie.cookieBehavior", 1);
user_pref("print.print_footerleft", "&PT");
user_pref("network.proxy.type",1);
user_pref("network.proxy.no_proxies_on","localhost,127.0.0.1,.home.example,");
user_pref("network.proxy.ftp","proxy.home.example");
user_pref("network.proxy.ftp_port",2121);
user_pref("network.proxy.http","proxy.home.example");
user_pref("network.proxy.http_port",3128);
user_pref("network.proxy.ssl","proxy.home.example");
user_pref("network.proxy.ssl_port",3129);
