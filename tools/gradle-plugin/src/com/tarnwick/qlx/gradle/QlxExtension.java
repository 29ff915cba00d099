// qlx { }: the settings of the program, the same ones the Maven plugin
// takes, as plain properties. Unset settings are null; each QlxWrap task
// takes a setting from here unless it sets it itself.
package com.tarnwick.qlx.gradle;

import java.io.File;
import java.lang.reflect.Field;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import javax.inject.Inject;
import org.gradle.api.Project;

public class QlxExtension {
    private final Project project;
    String platform;
    File stub;
    String mainClass;
    List<String> options;
    String minJre;
    String maxJre;
    String singleInstance;
    String serviceName;
    String displayName;
    String serviceDescription;
    List<String> serviceDependencies;
    String startType;
    String account;
    String recovery;
    String failOnExit;
    File icon;
    String fileVersion;
    String productVersion;
    String productName;
    String companyName;
    String fileDescription;
    String copyright;
    String executionLevel;
    Boolean utf8CodePage;
    Boolean support;
    Boolean strict;
    File configFile;
    List<String> config;
    String dependencies;
    File output;

    @Inject
    public QlxExtension(Project project) {
        this.project = project;
    }

    /** The settings given here, by name (null ones are not). */
    Set<String> settingNames() {
        Set<String> names = new HashSet<String>();
        for (Field f : QlxExtension.class.getDeclaredFields()) {
            try {
                if (f.getName().equals("project") || Modifier.isStatic(f.getModifiers())) continue;
                if (f.get(this) != null) names.add(f.getName());
            } catch (IllegalAccessException e) {
                // every field is this class's own
            }
        }
        return names;
    }

    /** A file setting takes anything project.file() takes. */
    File file(Object v) {
        return v == null ? null : project.file(v);
    }

    /** Which built-in launcher stub to use: windows (qlx.exe) or linux. */
    public String getPlatform() { return platform; }
    public void setPlatform(String v) { platform = v; }

    /** A launcher stub of one's own instead of the built-in one. */
    public File getStub() { return stub; }
    public void setStub(Object v) { stub = file(v); }

    /** The application's main class; default: Main-Class of the JAR's manifest. */
    public String getMainClass() { return mainClass; }
    public void setMainClass(String v) { mainClass = v; }

    /** Virtual machine options, one per element. */
    public List<String> getOptions() { return options; }
    public void setOptions(List<String> v) { options = v == null ? null : new ArrayList<String>(v); }

    public String getMinJre() { return minJre; }
    public void setMinJre(String v) { minJre = v; }

    public String getMaxJre() { return maxJre; }
    public void setMaxJre(String v) { maxJre = v; }

    /** True, handover or custom. */
    public String getSingleInstance() { return singleInstance; }
    public void setSingleInstance(String v) { singleInstance = v; }

    /** Windows service name; default: the output's file name without .exe. */
    public String getServiceName() { return serviceName; }
    public void setServiceName(String v) { serviceName = v; }

    public String getDisplayName() { return displayName; }
    public void setDisplayName(String v) { displayName = v; }

    public String getServiceDescription() { return serviceDescription; }
    public void setServiceDescription(String v) { serviceDescription = v; }

    /** Services this one depends on. */
    public List<String> getServiceDependencies() { return serviceDependencies; }
    public void setServiceDependencies(List<String> v) { serviceDependencies = v == null ? null : new ArrayList<String>(v); }

    /** Auto, delayed, manual or disabled. */
    public String getStartType() { return startType; }
    public void setStartType(String v) { startType = v; }

    /** LocalSystem, LocalService, NetworkService, virtual or a user. */
    public String getAccount() { return account; }
    public void setAccount(String v) { account = v; }

    /** DELAY[/COUNT[/RESET]] in seconds, or none. */
    public String getRecovery() { return recovery; }
    public void setRecovery(String v) { recovery = v; }

    /** Yes or no. */
    public String getFailOnExit() { return failOnExit; }
    public void setFailOnExit(String v) { failOnExit = v; }

    /** An .ico file for the program icon. */
    public File getIcon() { return icon; }
    public void setIcon(Object v) { icon = file(v); }

    /** Default: the project version as four numbers. */
    public String getFileVersion() { return fileVersion; }
    public void setFileVersion(String v) { fileVersion = v; }

    /** Default: the file version. */
    public String getProductVersion() { return productVersion; }
    public void setProductVersion(String v) { productVersion = v; }

    /** Default: the project name. */
    public String getProductName() { return productName; }
    public void setProductName(String v) { productName = v; }

    public String getCompanyName() { return companyName; }
    public void setCompanyName(String v) { companyName = v; }

    /** Default: the project description. */
    public String getFileDescription() { return fileDescription; }
    public void setFileDescription(String v) { fileDescription = v; }

    public String getCopyright() { return copyright; }
    public void setCopyright(String v) { copyright = v; }

    /** AsInvoker, requireAdministrator or highestAvailable. */
    public String getExecutionLevel() { return executionLevel; }
    public void setExecutionLevel(String v) { executionLevel = v; }

    public Boolean getUtf8CodePage() { return utf8CodePage; }
    public void setUtf8CodePage(Boolean v) { utf8CodePage = v; }

    /** Merge the support classes com.tarnwick.qlx.*. */
    public Boolean getSupport() { return support; }
    public void setSupport(Boolean v) { support = v; }

    /** Every configuration warning fails the task and nothing is written (qlxwrap --strict). */
    public Boolean getStrict() { return strict; }
    public void setStrict(Boolean v) { strict = v; }

    /** A configuration file whose lines follow the ones made from the settings. */
    public File getConfigFile() { return configFile; }
    public void setConfigFile(Object v) { configFile = file(v); }

    /** Further configuration lines ("key value") for every other key. */
    public List<String> getConfig() { return config; }
    public void setConfig(List<String> v) { config = v == null ? null : new ArrayList<String>(v); }

    /** Merge (into the program), lib (copied into lib/ beside it) or none. */
    public String getDependencies() { return dependencies; }
    public void setDependencies(String v) { dependencies = v; }

    /** The program to write; default: build/qlx/NAME.exe for NAME.jar. */
    public File getOutput() { return output; }
    public void setOutput(Object v) { output = file(v); }
}
